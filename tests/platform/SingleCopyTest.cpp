#include "platform/SingleCopy.h"

#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* ChildTitleVariable = "STENDO_SINGLE_COPY_TITLE";
constexpr const char* ChildExpectVariable = "STENDO_SINGLE_COPY_EXPECT";

// A title no running program or other test uses.
QString UniqueTitle() {
    return QStringLiteral("Стендограф test ") + QUuid::createUuid().toString(QUuid::Id128);
}

// Runs the later copy in a process of its own: this test program, running only the disabled
// child test below, which expects that answer from its claim. Returns its exit code, handling
// this process's events meanwhile.
int RunSecondCopy(const QString& title, TClaimResult expected = TClaimResult::WindowRuns) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ChildTitleVariable, title);
    environment.insert(ChildExpectVariable, QString::number(static_cast<int>(expected)));
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

QString OwnFolder() {
    TSingleCopyFailure error;
    const QString folder = SingleCopy::PrivateFolder(&error);
    EXPECT_FALSE(folder.isEmpty()) << SingleCopyFailureText(error).toStdString();
    return folder;
}

// Sets an environment variable for the life of the object (unset when value is null).
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value)
        : name_(name), previous_(qgetenv(name)), wasSet_(qEnvironmentVariableIsSet(name)) {
        if (value != nullptr)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~EnvironmentVariable() {
        if (wasSet_)
            qputenv(name_, previous_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray previous_;
    bool wasSet_;
};

// The second copy, started by the tests below in another process.
TEST(SingleCopyChild, DISABLED_FindsTheFirstCopyAndAsksIt) {
    const char* title = std::getenv(ChildTitleVariable);
    const char* expected = std::getenv(ChildExpectVariable);
    ASSERT_NE(title, nullptr);
    ASSERT_NE(expected, nullptr);
    SingleCopy copy(QString::fromUtf8(title));
    EXPECT_EQ(static_cast<int>(copy.Claim()), std::atoi(expected));
}

TEST(SingleCopy, ASecondProcessAsksTheFirstToComeToTheFront) {
    const QString title = UniqueTitle();
    SingleCopy first(title);
    ASSERT_EQ(first.Claim(), TClaimResult::First);
    QSignalSpy activations(&first, &SingleCopy::ActivationRequested);

    EXPECT_EQ(RunSecondCopy(title), 0);
    if (activations.count() == 0)
        activations.wait(5000);
    EXPECT_EQ(activations.count(), 1);
}

// A copy running a series from the command line says so, and is not asked to the front.
TEST(SingleCopy, ASeriesCopyTellsTheNextCopyWhatItDoes) {
    const QString title = UniqueTitle();
    SingleCopy series(title, TCopyRole::Series);
    ASSERT_EQ(series.Claim(false), TClaimResult::First);
    QSignalSpy activations(&series, &SingleCopy::ActivationRequested);

    EXPECT_EQ(RunSecondCopy(title, TClaimResult::SeriesRuns), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(activations.count(), 0);
}

// A copy whose window runs a series tells the next one so, and is asked to the front all the
// same: it comes once the series is over.
TEST(SingleCopy, ABusyWindowTellsTheNextCopyItComesForwardLater) {
    const QString title = UniqueTitle();
    SingleCopy first(title);
    ASSERT_EQ(first.Claim(), TClaimResult::First);
    QSignalSpy activations(&first, &SingleCopy::ActivationRequested);

    first.SetBusy(true);
    EXPECT_EQ(RunSecondCopy(title, TClaimResult::WindowInSeries), 0);
    if (activations.count() == 0)
        activations.wait(5000);
    EXPECT_EQ(activations.count(), 1);

    first.SetBusy(false);
    EXPECT_EQ(RunSecondCopy(title, TClaimResult::WindowRuns), 0);
}

TEST(SingleCopy, CopiesOfOtherTitlesDoNotMeet) {
    SingleCopy first(UniqueTitle());
    ASSERT_EQ(first.Claim(), TClaimResult::First);
    SingleCopy other(UniqueTitle());
    EXPECT_EQ(other.Claim(), TClaimResult::First);
}

TEST(SingleCopy, ASocketLeftByACrashedCopyDoesNotBlockTheNextStart) {
    const QString title = UniqueTitle();
    // What a copy that crashed leaves: a bound socket file that nobody listens on.
    const QByteArray path = QFile::encodeName(SingleCopy::SocketPath(OwnFolder(), title));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    ASSERT_TRUE(QFile::exists(QFile::decodeName(path)));

    SingleCopy next(title);
    ASSERT_EQ(next.Claim(), TClaimResult::First);
    // And it really listens: a later copy finds it.
    QSignalSpy activations(&next, &SingleCopy::ActivationRequested);
    EXPECT_EQ(RunSecondCopy(title), 0);
    if (activations.count() == 0)
        activations.wait(5000);
    EXPECT_EQ(activations.count(), 1);
}

// Another user of a shared temporary folder: what they leave there can neither block a start
// nor stand in for a running copy. Needs a second user, so runs only as root.
TEST(SingleCopy, AnotherUsersFilesInTheSharedTemporaryFolder) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of another user";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    TempDir shared;
    std::filesystem::permissions(shared.path(), std::filesystem::perms(01777));
    EnvironmentVariable tmp("TMPDIR", shared.path().c_str());
    EnvironmentVariable runtime("XDG_RUNTIME_DIR", nullptr);
    const QString title = UniqueTitle();
    const std::string own = "stendograph-" + std::to_string(getuid());

    // Files of the names earlier versions used, made by the other user: a lock naming a live
    // process, and a socket file.
    const std::string digestName =
        QFileInfo(SingleCopy::SocketPath(QStringLiteral("x"), title)).fileName().toStdString();
    for (const std::string& name : {digestName + "-0.lock", digestName + "-0"}) {
        std::FILE* file = std::fopen((shared / name).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "1\n");
        std::fclose(file);
        ASSERT_EQ(chown((shared / name).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    {
        SingleCopy first(title);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(first.Claim(), TClaimResult::First) << first.FailureReason().toStdString();
        EXPECT_LT(timer.elapsed(), 5000);
        struct stat info {};
        ASSERT_EQ(stat((shared / own).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    std::filesystem::remove_all(shared / own);

    // The other user took the name of this user's folder first: the rule cannot be set up,
    // and the claim says why at once instead of waiting or trusting that folder.
    std::filesystem::create_directory(shared / own);
    ASSERT_EQ(chown((shared / own).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    SingleCopy blocked(title);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(blocked.Claim(), TClaimResult::NotSetUp);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(blocked.FailureReason().contains("belongs to another user"))
        << blocked.FailureReason().toStdString();

    // A folder of this user's that others may enter is not trusted either.
    std::filesystem::remove_all(shared / own);
    std::filesystem::create_directory(shared / own);
    std::filesystem::permissions(shared / own, std::filesystem::perms(0777));
    EXPECT_EQ(blocked.Claim(), TClaimResult::NotSetUp);
    EXPECT_TRUE(blocked.FailureReason().contains("other users may enter it"))
        << blocked.FailureReason().toStdString();
}

// A start lock held by a copy that hangs: the next start waits a bounded time, then goes on
// without the rule and says why.
TEST(SingleCopy, AHeldStartLockIsWaitedForOnlyAWhile) {
    const QString title = UniqueTitle();
    const QString lockPath = SingleCopy::SocketPath(OwnFolder(), title) + QStringLiteral(".lock");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        QLockFile lock(lockPath);
        lock.setStaleLockTime(0);
        const char held = lock.tryLock(0) ? 1 : 0;
        (void)!write(ready[1], &held, 1);
        pause();
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 1);

    SingleCopy next(title);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(next.Claim(), TClaimResult::NotSetUp);
    EXPECT_LT(timer.elapsed(), 30000);
    EXPECT_TRUE(next.FailureReason().contains("stayed taken"))
        << next.FailureReason().toStdString();

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    // With the holder gone its lock is stale, and the next start goes through.
    SingleCopy after(title);
    EXPECT_EQ(after.Claim(), TClaimResult::First) << after.FailureReason().toStdString();
}

} // namespace
