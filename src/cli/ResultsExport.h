// --export: every computer and result of a results file as CSV or JSON, one row (or object)
// per result, a computer without results once. The columns are listed in docs/export.md.
#pragma once

#include "cli/CommandLine.h"
#include "state/Variables.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <vector>

struct TMergeReport;

// The store as read from a file, apart from the program's globals.
struct TExportStore {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;
};

// The column names, in order.
QStringList ExportColumnNames();

// The rows as CSV (RFC 4180: a header line, CRLF line ends, fields quoted when they hold a
// comma, a quote or a line break) or as a JSON array of objects, both in UTF-8.
QByteArray ExportCsv(const TExportStore& store);
QByteArray ExportJson(const TExportStore& store);
// One object of ExportJson: computer number computerNumber (from 1) with its devices and the
// result (null: a computer without results).
QJsonObject ExportJsonRow(std::size_t computerNumber, const TComputerRecord& computer,
                          const std::vector<TStringSlot>& devices, const TResultRecord* result);

// What a merge of the file left out, one line each, for standard error; empty for a file
// read whole.
QStringList DescribeMergeReport(const QString& fileName, const TMergeReport& report);

struct TExportOutcome {
    int ExitStatus = 0;
    QByteArray Output;    // for standard output
    QStringList Messages; // for standard error
};

// Reads the file through the program's own reader (LoadResults, into the global store, which
// must be empty) and exports it. Exit status 0 when the file was read, even in part; 2 when it
// is missing, cannot be opened, or is no results file of this version (nothing is exported).
TExportOutcome ExportResultsFile(const QString& fileName, TExportFormat format);
