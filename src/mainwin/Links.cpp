#include "mainwin/Links.h"

#include "mainwin/Contacts.h"
#include "platform/ShellOpen.h"
#include "state/Variables.h"

#include <QGuiApplication>
#include <QMessageBox>

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

QString SendResultsQuestion() {
    return QString("Уважаемый пользователь программы, просим вас внести свой вклад в развитие "
                   "программы, отправив нам результаты тестирований вашей графической системы "
                   "(файл Results.bin) на наш e-mail ") +
           ProgramEmail + ".\r\nВы хотите отправить результаты тестирований нам?";
}

void AskToSendResults(QWidget* parent) {
    if (!ResultsChanged)
        return;
    QMessageBox box(QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                    SendResultsQuestion(), QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() == QMessageBox::Yes)
        OpenMailLink();
}
