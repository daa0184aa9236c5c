// The Retry/Ignore dialog of file access as the user meets it: the buttons answer, and while
// another copy of the program holds the file the dialog goes away by itself once the file is
// free.
#include "platform/RetryDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Watches the dialogs shown, and presses a button of the first one after a while when told to.
class DialogWatcher {
public:
    explicit DialogWatcher(QMessageBox::StandardButton press = QMessageBox::NoButton,
                           int afterMs = 0)
        : press_(press), afterMs_(afterMs) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(20);
        shown_.start();
    }

    std::vector<std::string> Texts;
    std::vector<QMessageBox::StandardButtons> Buttons;

private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        if (!box->property("seen").toBool()) {
            box->setProperty("seen", true);
            Texts.push_back(box->text().toStdString());
            Buttons.push_back(box->standardButtons());
            shown_.restart();
        }
        if (press_ != QMessageBox::NoButton && shown_.elapsed() >= afterMs_)
            QTest::mouseClick(box->button(press_), Qt::LeftButton);
    }

    QMessageBox::StandardButton press_;
    int afterMs_;
    QElapsedTimer shown_;
    QTimer timer_;
};

const std::string Text = "Файл Results.bin не доступен для чтения.";

TEST(RetryDialog, WhileTheFileIsHeldItClosesByItselfOnceAnAttemptSucceeds) {
    DialogWatcher watcher; // never answers
    QElapsedTimer clock;
    clock.start();
    int attempts = 0;
    const TRetryAnswer answer = AskRetryWhileBusy(Text, "Results.bin", [&] {
        ++attempts;
        return clock.elapsed() >= 1000; // the other copy's save ends after a second
    });
    EXPECT_EQ(answer, TRetryAnswer::Succeeded);
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_LT(clock.elapsed(), 5000);
    // Tried every 100 ms meanwhile, not in a busy loop.
    EXPECT_GE(attempts, 5);
    EXPECT_LE(attempts, 20);
    ASSERT_EQ(watcher.Texts, std::vector<std::string>{Text});
    EXPECT_EQ(watcher.Buttons[0], QMessageBox::Retry | QMessageBox::Ignore);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(RetryDialog, TheUsersAnswerWhileTheFileStaysHeld) {
    const struct {
        QMessageBox::StandardButton Press;
        TRetryAnswer Answer;
    } cases[] = {{QMessageBox::Ignore, TRetryAnswer::Ignore},
                 {QMessageBox::Retry, TRetryAnswer::Retry}};
    for (const auto& c : cases) {
        DialogWatcher watcher(c.Press, 300);
        EXPECT_EQ(AskRetryWhileBusy(Text, "Results.bin", [] { return false; }), c.Answer);
        EXPECT_EQ(watcher.Texts.size(), 1u);
    }
}

// A command's waiter replaces the dialog, and a test's asker answers for it.
TEST(RetryDialog, AWaiterOrAnAskerReplacesTheDialog) {
    std::vector<std::string> waitedFor;
    const TBusyWaiter previousWaiter =
        SetBusyWaiter([&](const std::string& fileName, const std::function<bool()>& attemptNow) {
            waitedFor.push_back(fileName);
            return attemptNow();
        });
    EXPECT_EQ(AskRetryWhileBusy(Text, "Other.bin", [] { return true; }), TRetryAnswer::Succeeded);
    EXPECT_EQ(AskRetryWhileBusy(Text, "Other.bin", [] { return false; }), TRetryAnswer::Ignore);
    EXPECT_EQ(waitedFor, (std::vector<std::string>{"Other.bin", "Other.bin"}));
    SetBusyWaiter(previousWaiter);

    const TRetryAsker previousAsker = SetRetryAsker([](const std::string&) { return true; });
    EXPECT_EQ(AskRetryWhileBusy(Text, "Other.bin", [] { return true; }), TRetryAnswer::Retry);
    SetRetryAsker(previousAsker);
}

} // namespace
