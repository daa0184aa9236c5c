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

// The question at close, with its CR LF line break.
QString SendResultsQuestion();
// FormClose: once a result was recorded since start (ResultsChanged), asks whether to send
// Results.bin and opens a mail message on Yes. The window closes whatever the answer.
void AskToSendResults(QWidget* parent);
