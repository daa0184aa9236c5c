// The main window's links: the help page, the web site, the mail address, and the question at
// close that asks the user to mail Results.bin.
#pragma once

#include <QString>

class QWidget;

// BitBtn5Click: the working directory's "Help.html".
void OpenHelp();
// LabeledEdit1Click: the program's web site.
void OpenWebSite();
// LabeledEdit2Click: a mail message to the program's contact address.
void OpenMailLink();

// How much of what was measured since start Results.bin holds when the program closes.
enum class TMeasuredOnDisk {
    All,
    // Earlier results are in it, the latest could not be saved and the user gave them up.
    AllButTheLatest,
    None,
};

// The question at close, with its CR LF line breaks; with a line that the latest results are
// not in the file when they are not.
QString SendResultsQuestion(TMeasuredOnDisk onDisk = TMeasuredOnDisk::All);
// FormClose: once a result was recorded since start (ResultsChanged), asks whether to send
// Results.bin and opens a mail message on Yes; never when the file holds nothing of what was
// measured. The window closes whatever the answer.
void AskToSendResults(QWidget* parent, TMeasuredOnDisk onDisk = TMeasuredOnDisk::All);
