// The program started a second time while the first copy is busy: during a pass of a series
// the test screen stays in front and the first copy's window appears only after the series;
// during a series of the command line, the new window says so and ends. The second copy is the
// program itself, in a temporary folder of its own so that it meets no other copy.
#include "mainwin/SecondStart.h"
#include "mainwin/UnsavedResults.h"
#include "mainwin/VideoMain1.h"

#include "BoxAnswerer.h"
#include "SeriesFixture.h"
#include "bench/Test1.h"
#include "platform/SingleCopy.h"
#include "render/DirectXGraphics.h"
#include "state/StoreReset.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString ProgramTitle = TVideoMainStartUp{}.CopyTitle;

// The program's own title, for this test and its children only: the single-copy folder is
// taken from a temporary folder of the test's.
class OwnSingleCopyFolder {
public:
    explicit OwnSingleCopyFolder(const std::filesystem::path& tmp)
        : tmp_(qgetenv("TMPDIR")), runtime_(qgetenv("XDG_RUNTIME_DIR")) {
        std::filesystem::create_directories(tmp);
        qputenv("TMPDIR", QByteArray(tmp.c_str()));
        qunsetenv("XDG_RUNTIME_DIR");
    }
    ~OwnSingleCopyFolder() {
        tmp_.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp_);
        if (!runtime_.isNull())
            qputenv("XDG_RUNTIME_DIR", runtime_);
    }

private:
    QByteArray tmp_;
    QByteArray runtime_;
};

QProcessEnvironment ChildEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    return environment;
}

class SecondStart : public testing::Test {
protected:
    void TearDown() override { FreeDirect3DLibrary(); }
    StartState state_;
    TempDir folder_{true};
    OwnSingleCopyFolder tmp_{folder_ / "tmp"};
};

TEST_F(SecondStart, DuringAPassTheTestScreenStaysAndTheWindowWaitsForTheSeriesEnd) {
    LoadDirect3DLibrary();
    QProcess second;
    second.setProcessEnvironment(ChildEnvironment());
    bool inSeries = false;
    bool mainShownDuringSeries = false;
    bool screenHidden = false;
    std::string end;

    TVideoMainStartUp startUp;
    startUp.MeasureCpuMhz = [] { return 2400; };
    startUp.DisplayModeAccepted = [](int width, int, int depth) {
        return width == 640 && depth == 32;
    };
    startUp.Series.RunPass = [&] {
        inSeries = true;
        // A second start while the pass draws, once it is under way.
        QTimer::singleShot(1500, [&] { second.start(STENDO_PROGRAM, QStringList()); });
        RunTestScreenPass();
        // Still inside the series: let the second copy finish and its request arrive.
        QElapsedTimer waited;
        waited.start();
        while (second.state() != QProcess::NotRunning && waited.elapsed() < 60000) {
            second.waitForFinished(20);
            QCoreApplication::processEvents();
        }
        QTest::qWait(300);
    };
    startUp.Series.ShowProgress = [](int, int) {};
    startUp.Series.ShowEnd = [&](const std::string& text) {
        end = text;
        inSeries = false;
    };
    auto window = std::make_unique<TVideoMain>(nullptr, startUp);
    ASSERT_FALSE(window->SecondCopy());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        mainShownDuringSeries |= inSeries && window->isVisible();
        screenHidden |= TestScreen != nullptr && !TestScreen->isVisible();
    });
    watcher.start(10);
    window->ModeCheckBox(1)->setChecked(true);
    QTest::mouseClick(window->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    watcher.stop();

    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    EXPECT_EQ(second.exitCode(), 0) << said.toStdString();
    // The second copy said why it ended, without a window over the test screen.
    EXPECT_TRUE(said.contains(WindowInSeriesLine())) << said.toStdString();
    EXPECT_FALSE(mainShownDuringSeries);
    EXPECT_FALSE(screenHidden);
    EXPECT_EQ(end, SeriesSucceededText);
    EXPECT_TRUE(window->isVisible());
    // One undisturbed pass was recorded.
    const auto& results = ComputerResults[static_cast<std::size_t>(CurrentComputerIndex)];
    ASSERT_EQ(results.size(), 1u);
    EXPECT_GT(results[0].FrameCount, 16u);
    EXPECT_GE(results[0].TotalTimeMs, 7000);
}

TEST_F(SecondStart, AWindowStartedDuringACommandLineSeriesSaysSoAndEnds) {
    QProcess series;
    series.setProcessEnvironment(ChildEnvironment());
    series.setWorkingDirectory(QString::fromStdString(folder_.path().string()));
    series.start(STENDO_PROGRAM, {"--run", "--modes", "640x480x32", "--accel", "emulation"});
    ASSERT_TRUE(series.waitForStarted(10000));
    TSingleCopyFailure error;
    const QString socket = SingleCopy::SocketPath(SingleCopy::PrivateFolder(&error), ProgramTitle);
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(socket) && waited.elapsed() < 60000)
        QTest::qWait(50);
    ASSERT_TRUE(QFile::exists(socket)) << series.readAllStandardError().toStdString();

    BoxAnswerer answerer({QMessageBox::Ok});
    TVideoMainStartUp startUp;
    startUp.MeasureCpuMhz = [] { return 2400; };
    TVideoMain window(nullptr, startUp);
    EXPECT_TRUE(window.SecondCopy());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].Text, SeriesRunsText().toStdString());
    EXPECT_TRUE(Computers.empty()) << "the second copy read nothing";

    series.kill();
    series.waitForFinished();
}

// Another user took the name of this user's single-copy folder: the window says that it cannot
// tell whether another copy runs, and starts all the same. Needs a second user: root only.
TEST_F(SecondStart, ARuleThatCannotBeSetUpIsToldAndTheWindowStarts) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a folder of another user";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::filesystem::path own = folder_ / "tmp" / ("stendograph-" + std::to_string(getuid()));
    std::filesystem::create_directory(own);
    ASSERT_EQ(chown(own.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

    BoxAnswerer answerer({QMessageBox::Ok});
    TVideoMainStartUp startUp;
    startUp.MeasureCpuMhz = [] { return 2400; };
    TVideoMain window(nullptr, startUp);
    EXPECT_FALSE(window.SecondCopy());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    // In the windows' Russian throughout: the folder's name is the only other word.
    EXPECT_EQ(answerer.Boxes()[0].Text,
              "Не удалось проверить, не запущена ли уже другая копия программы: папка " +
                  own.string() +
                  " принадлежит другому пользователю.\r\nПрограмма продолжит работу, но второй "
                  "её запуск не будет замечен.");
    EXPECT_EQ(Computers.size(), 1u) << "the start-up went on";
}

// Every reason the single-copy rule could not be set up, in the windows' Russian; only the
// names of files and the words of the system that have no translation stay as they are.
TEST(SecondStartTexts, TheRuleThatCannotBeSetUpIsToldInRussian) {
    using TStep = TSingleCopyFailure::TStep;
    using TFault = TSingleCopyFailure::TFault;
    const struct {
        TSingleCopyFailure Failure;
        const char* Reason;
    } cases[] = {
        {{TStep::MakeFolder, TFault::None, "/tmp/stendograph-7", EACCES, {}},
         "не удалось создать папку /tmp/stendograph-7: доступ запрещён"},
        {{TStep::MakeFolder, TFault::None, "/tmp/stendograph-7", ENOSPC, {}},
         "не удалось создать папку /tmp/stendograph-7: на диске нет места"},
        {{TStep::CheckFolder, TFault::None, "/run/user/7", ENOENT, {}},
         "папку /run/user/7 не удалось проверить: нет такого файла или папки"},
        {{TStep::CheckFolder, TFault::NotAFolder, "/tmp/stendograph-7", 0, {}},
         "/tmp/stendograph-7 — не папка"},
        {{TStep::CheckFolder, TFault::OthersMayEnter, "/tmp/stendograph-7", 0, {}},
         "в папку /tmp/stendograph-7 могут входить другие пользователи"},
        {{TStep::Lock, TFault::None, "/tmp/stendograph-7/s.lock", 0, {}},
         "файл блокировки /tmp/stendograph-7/s.lock так и не освободился"},
        // An error without words of ours: the system's own.
        {{TStep::MakeFolder, TFault::None, "/tmp/x", EXDEV, {}},
         "не удалось создать папку /tmp/x: Invalid cross-device link"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SingleCopyNotSetUpText(c.Failure).toStdString(),
                  std::string("Не удалось проверить, не запущена ли уже другая копия программы: ") +
                      c.Reason +
                      ".\r\nПрограмма продолжит работу, но второй её запуск не будет замечен.");
}

} // namespace
