// The main window's start-up without the window, for the commands that measure or draw as the
// windows do: the display modes tested, the results file loaded, this computer identified and
// found or added in the store. Nothing is asked: other ".bin" files are not offered.
#pragma once

#include <QString>
#include <QStringList>

struct TWindowlessStartUp {
    bool Loaded = false;  // the results file was read (in part, or it does not exist yet)
    QStringList Messages; // for standard error: what the reader left out, or why it failed
};

// Loads the runtime library (freed by the caller with FreeDirect3DLibrary). A missing results
// file is no failure when missingIsEmpty (a series starts one), otherwise it is. The caller
// answers the Retry/Ignore questions (WindowlessFileAnswers).
TWindowlessStartUp StartUpWithoutWindows(const QString& resultsFile, bool missingIsEmpty);
