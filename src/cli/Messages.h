// What the command line says on standard error, always in English, each line after the
// program's name.
#pragma once

#include "chart/ChartPicture.h"
#include "state/Variables.h"

#include <QString>

// Writes "stendograph: " and the line to standard error.
void Say(const QString& line);

// The failed step of writing a file, as a phrase about the file.
QString FileFailure(const TFileError& error, const QString& fileName);
// Why a save of Results.bin failed.
QString SaveFailureMessage(const TSaveOutcome& outcome);
// That an unreadable Results.bin was kept under another name before a new one was written.
QString KeptFileMessage(const std::string& keptAs);
// Why a chart picture was not written.
QString PictureFailureMessage(const TPictureFailure& failure, const QString& fileName, int height);
