#include "mainwin/Links.h"

#include "mainwin/Contacts.h"
#include "platform/MessageBox.h"
#include "platform/ShellOpen.h"
#include "state/Variables.h"

#include <string>

namespace {

std::string MailTarget() {
    return std::string("mailto:") + ProgramEmail;
}

} // namespace

void OpenHelp() {
    ShellOpen("Help.html");
}

void OpenWebSite() {
    ShellOpen(ProgramWebSite);
}

void OpenMailLink() {
    ShellOpen(MailTarget());
}

QString SendResultsQuestion(TMeasuredOnDisk onDisk) {
    const QString latestMissing =
        onDisk == TMeasuredOnDisk::AllButTheLatest
            ? QString("Результаты последних тестирований, которые не удалось сохранить, в этот "
                      "файл не вошли: в нём только результаты, сохранённые раньше.\r\n")
            : QString();
    return QString("Уважаемый пользователь программы, просим вас внести свой вклад в развитие "
                   "программы, отправив нам результаты тестирований вашей графической системы "
                   "(файл Results.bin) на наш e-mail ") +
           ProgramEmail + ".\r\n" + latestMissing +
           "Вы хотите отправить результаты тестирований нам?";
}

void AskToSendResults(QWidget* parent, TMeasuredOnDisk onDisk) {
    if (!ResultsChanged || onDisk == TMeasuredOnDisk::None)
        return;
    if (AskUser(parent, QMessageBox::Question, SendResultsQuestion(onDisk),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
        OpenMailLink();
}
