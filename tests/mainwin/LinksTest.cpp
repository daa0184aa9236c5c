// The help, site and mail links, and the question at close, with the desktop's opener
// replaced so the test sees what would be opened.
#include "mainwin/Links.h"
#include "mainwin/Contacts.h"
#include "platform/ShellOpen.h"

#include "SeriesFixture.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Links : public testing::Test {
protected:
    void SetUp() override {
        SetShellOpener([this](const std::string& target) { opened_.push_back(target); });
    }
    void TearDown() override { SetShellOpener({}); }

    std::vector<std::string> opened_;
    SharedStateGuard state_;
};

TEST_F(Links, HelpSiteAndMail) {
    OpenHelp();
    OpenWebSite();
    OpenMailLink();
    EXPECT_EQ(opened_, (std::vector<std::string>{"Help.html", ProgramWebSite,
                                                 std::string("mailto:") + ProgramEmail}));
}

TEST_F(Links, NoResultSinceStartAsksNothing) {
    ResultsChanged = false;
    QWidget window;
    window.show();
    MessageBoxUser user(QMessageBox::Yes);
    AskToSendResults(&window);
    QTest::qWait(100); // a box would have been seen by now
    EXPECT_TRUE(user.Boxes().empty());
    EXPECT_TRUE(opened_.empty());
}

TEST_F(Links, AfterAResultTheQuestionNoOpensNothingYesOpensTheMail) {
    ResultsChanged = true;
    QWidget window;
    window.show();
    const QString expected =
        QString("Уважаемый пользователь программы, просим вас внести свой вклад в развитие "
                "программы, отправив нам результаты тестирований вашей графической системы (файл "
                "Results.bin) на наш e-mail ") +
        ProgramEmail + "." + QChar('\r') + QChar('\n') +
        "Вы хотите отправить результаты тестирований нам?";
    {
        MessageBoxUser user(QMessageBox::No);
        AskToSendResults(&window);
        ASSERT_EQ(user.Boxes().size(), 1u);
        EXPECT_EQ(user.Boxes()[0].Text, expected);
        EXPECT_EQ(user.Boxes()[0].Format, Qt::PlainText);
        EXPECT_EQ(user.Boxes()[0].Buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_TRUE(opened_.empty());
    }
    {
        MessageBoxUser user(QMessageBox::Yes);
        AskToSendResults(&window);
        ASSERT_EQ(user.Boxes().size(), 1u);
        EXPECT_EQ(opened_, std::vector<std::string>{std::string("mailto:") + ProgramEmail});
    }
}

} // namespace
