// What the command line says on standard error, always in English, each line after the
// program's name.
#pragma once

#include "chart/ChartPicture.h"
#include "platform/RetryDialog.h"
#include "state/Variables.h"

#include <QString>

// Writes "stendograph: " and the line to standard error.
void Say(const QString& line);

// The failed step of writing a file, as a phrase about the file.
QString FileFailure(const TFileError& error, const QString& fileName);
// Why a save of Results.bin failed.
QString SaveFailureMessage(const TSaveOutcome& outcome);
// That a Results.bin not read whole was kept under another name before a new one was written,
// and what its reader took and left.
QString KeptFileMessage(const TSaveOutcome& save);
// Why a chart picture was not written.
QString PictureFailureMessage(const TPictureFailure& failure, const QString& fileName, int height);

// How long a command waits for another copy of the program that holds a file it needs.
inline constexpr int CopyWaitSeconds = 30;

// A command has no one to answer the Retry/Ignore dialog. While an object of this class lives,
// a file that cannot be opened is given up after the timed retries; one that another copy holds
// (it is saving) is waited for up to CopyWaitSeconds, and standard error says so.
class WindowlessFileAnswers {
public:
    WindowlessFileAnswers();
    ~WindowlessFileAnswers();
    WindowlessFileAnswers(const WindowlessFileAnswers&) = delete;
    WindowlessFileAnswers& operator=(const WindowlessFileAnswers&) = delete;

private:
    TRetryAsker asker_;
    TBusyWaiter waiter_;
};
