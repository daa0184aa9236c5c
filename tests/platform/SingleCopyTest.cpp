#include "platform/SingleCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char* ChildTitleVariable = "STENDO_SINGLE_COPY_TITLE";

// A title no running program or other test uses.
QString UniqueTitle() {
    return QStringLiteral("Стендограф test ") + QUuid::createUuid().toString(QUuid::Id128);
}

// Runs the later copy in a process of its own: this test program, running only the disabled
// child test below. Returns its exit code, handling this process's events meanwhile.
int RunSecondCopy(const QString& title) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ChildTitleVariable, title);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=SingleCopyChild.*"});
    if (!child.waitForStarted(10000))
        return -1;
    QElapsedTimer timer;
    timer.start();
    while (child.state() != QProcess::NotRunning && timer.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        child.waitForFinished(20);
    }
    return child.state() == QProcess::NotRunning ? child.exitCode() : -2;
}

// The second copy, started by the tests below in another process.
TEST(SingleCopyChild, DISABLED_FindsTheFirstCopyAndAsksIt) {
    const char* title = std::getenv(ChildTitleVariable);
    ASSERT_NE(title, nullptr);
    SingleCopy copy(QString::fromUtf8(title));
    EXPECT_FALSE(copy.Claim());
}

TEST(SingleCopy, ASecondProcessAsksTheFirstToComeToTheFront) {
    const QString title = UniqueTitle();
    SingleCopy first(title);
    ASSERT_TRUE(first.Claim());
    QSignalSpy activations(&first, &SingleCopy::ActivationRequested);

    EXPECT_EQ(RunSecondCopy(title), 0);
    if (activations.count() == 0)
        activations.wait(5000);
    EXPECT_EQ(activations.count(), 1);
}

TEST(SingleCopy, CopiesOfOtherTitlesDoNotMeet) {
    SingleCopy first(UniqueTitle());
    ASSERT_TRUE(first.Claim());
    SingleCopy other(UniqueTitle());
    EXPECT_TRUE(other.Claim());
}

TEST(SingleCopy, ASecondCopyInTheSameProcessIsRefused) {
    const QString title = UniqueTitle();
    SingleCopy first(title);
    ASSERT_TRUE(first.Claim());
    QSignalSpy activations(&first, &SingleCopy::ActivationRequested);
    SingleCopy second(title);
    EXPECT_FALSE(second.Claim());
    EXPECT_TRUE(activations.wait(5000));
}

TEST(SingleCopy, ASocketLeftByACrashedCopyDoesNotBlockTheNextStart) {
    const QString title = UniqueTitle();
    // What a copy that crashed leaves: a bound socket file that nobody listens on.
    const QByteArray path = QDir::temp().filePath(SingleCopy::SocketName(title)).toLocal8Bit();
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(path)));

    SingleCopy next(title);
    ASSERT_TRUE(next.Claim());
    // And it really listens: a later copy finds it.
    QSignalSpy activations(&next, &SingleCopy::ActivationRequested);
    EXPECT_EQ(RunSecondCopy(title), 0);
    if (activations.count() == 0)
        activations.wait(5000);
    EXPECT_EQ(activations.count(), 1);
}

} // namespace
