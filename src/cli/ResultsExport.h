// --export: every computer and result of a results file as CSV or JSON (the columns of
// state/RecordColumns.h).
#pragma once

#include "cli/CommandLine.h"
#include "state/RecordColumns.h"

#include <QByteArray>
#include <QStringList>

struct TExportOutcome {
    int ExitStatus = 0;
    QByteArray Output;    // for standard output
    QStringList Messages; // for standard error
};

// Reads the file through the program's own reader (LoadResults, into the global store, which
// must be empty) and exports it. Exit status 0 when the file was read, even in part; 2 when it
// is missing, cannot be opened, or is no results file of this version (nothing is exported).
TExportOutcome ExportResultsFile(const QString& fileName, TExportFormat format);
