// Whole series with the real pass: the runtime on Mesa under Xvfb, a fresh test screen per
// pass, the progress window between passes, Results.bin in a temporary working directory read
// back from disk, and the final message answered as a user would. A pass takes about 11 s.
#include "mainwin/IndicForm1.h"
#include "mainwin/Series.h"

#include "SeriesFixture.h"
#include "bench/Test1.h"
#include "support/TempDir.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

const char* const Stopped = "Тестирование было остановлено пользователем.";

D3DCAPS8 ReferenceCaps() {
    D3DCAPS8 ref{};
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    EXPECT_NE(d3d, nullptr) << "the runtime library did not load";
    if (d3d == nullptr)
        return ref;
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref)))
        ref = D3DCAPS8{};
    d3d->Release();
    return ref;
}

// Everything seen from outside while a real series runs, checked every 10 ms.
class SeriesWatcher {
public:
    // escInPass: the pass (from 1) in which Esc is pressed once it has drawn a few frames.
    explicit SeriesWatcher(const QWidget& mainWindow, int escInPass = 0)
        : mainWindow_(mainWindow), escInPass_(escInPass) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(10);
    }

    int Screens = 0;
    bool MainHiddenDuringPasses = true;
    bool CursorHiddenDuringPasses = true;
    std::vector<std::pair<int, int>> Progress;
    bool EscPressed = false;

private:
    void Look() {
        if (TestScreen != nullptr) {
            if (TestScreen != lastScreen_)
                ++Screens;
            MainHiddenDuringPasses &= !mainWindow_.isVisible();
            const QCursor* cursor = QGuiApplication::overrideCursor();
            CursorHiddenDuringPasses &= cursor != nullptr && cursor->shape() == Qt::BlankCursor;
            if (Screens == escInPass_ && !EscPressed && TestScreen->FramesDrawn >= 6) {
                EscPressed = true;
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(TestScreen, &esc);
            }
        }
        lastScreen_ = TestScreen;
        const bool progressShown = IndicForm != nullptr && IndicForm->isVisible();
        if (progressShown && !progressShown_)
            Progress.emplace_back(IndicForm->IndicBar->value(), IndicForm->IndicBar->maximum());
        progressShown_ = progressShown;
    }

    const QWidget& mainWindow_;
    int escInPass_;
    QTimer timer_;
    TTestScreen* lastScreen_ = nullptr;
    bool progressShown_ = false;
};

class RealSeries : public testing::Test {
protected:
    static void SetUpTestSuite() { LoadDirect3DLibrary(); }

    void SetUp() override {
        ASSERT_NE(Direct3DLibraryHandle(), nullptr) << "libd3d8.so next to the test program";
        std::memset(ModeAvailable, 1, sizeof ModeAvailable); // a 1600 x 1200 screen
        // A computer without a 3D driver, as this machine is: its only acceleration item is
        // "Программная эмуляция".
        StartWithComputer("real", D3DCAPS8{}, ReferenceCaps());
        IndicForm = &indicForm_;
        mainWindow_.show();
        // Boxes 1 and 2: 640 x 480 at 16 and at 32 bits.
        choice_.Ticked[0] = choice_.Ticked[1] = true;
        choice_.AccelerationItem = 0;
    }
    void TearDown() override { IndicForm = nullptr; }

    TTestConfig Expected(int depth) const {
        return TTestConfig{640, 480, static_cast<std::uint16_t>(depth), 0, 0, 0, 2, 2, 4};
    }

    SharedStateGuard state_;
    TempDir workDir_{true};
    QWidget mainWindow_;
    TIndicForm indicForm_; // made once, as the main block makes it
    SeriesChoice choice_;
};

TEST_F(RealSeries, TwoModesBothResultsReachTheFileAndTheUserIsToldOfSuccess) {
    SeriesWatcher watcher(mainWindow_);
    bool savedBeforeTold = false;
    MessageBoxUser user(QMessageBox::Ok, [&](const MessageBoxUser::Seen&) {
        savedBeforeTold = std::filesystem::exists("Results.bin");
    });

    RunSeries(&mainWindow_, choice_);

    EXPECT_FALSE(TestFailed) << StatusText;
    EXPECT_EQ(watcher.Screens, 2);
    EXPECT_TRUE(watcher.MainHiddenDuringPasses);
    EXPECT_TRUE(watcher.CursorHiddenDuringPasses);
    EXPECT_EQ(watcher.Progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
    EXPECT_EQ(TestScreen, nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(mainWindow_.isVisible());
    EXPECT_TRUE(ResultsChanged);
    ASSERT_EQ(user.Boxes().size(), 1u);
    EXPECT_EQ(user.Boxes()[0].Text.toStdString(), SeriesSucceededText);
    EXPECT_TRUE(savedBeforeTold);

    const StoreOnDisk disk = ReadResultsFile();
    const auto* results = disk.ResultsOf(CurrentComputer);
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const TResultRecord& r = (*results)[static_cast<std::size_t>(i)];
        EXPECT_TRUE(SameConfiguration(r, Expected(i == 0 ? 16 : 32))) << i;
        EXPECT_GE(+r.FrameCount, 1u);
        EXPECT_GT(+r.Fps, 0.0f);
        EXPECT_EQ(+r.RunCount, 1);
        EXPECT_LT(+r.BlackPercent, 50); // the lit corridor was on the screen
    }
}

TEST_F(RealSeries, EscInTheSecondPassKeepsTheFirstResultAndShowsWhy) {
    SeriesWatcher watcher(mainWindow_, 2);
    MessageBoxUser user(QMessageBox::Ok);

    RunSeries(&mainWindow_, choice_);

    EXPECT_TRUE(watcher.EscPressed);
    EXPECT_TRUE(TestFailed);
    EXPECT_EQ(watcher.Screens, 2);
    // The stopped pass has its progress step too.
    EXPECT_EQ(watcher.Progress, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
    EXPECT_TRUE(mainWindow_.isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    ASSERT_EQ(user.Boxes().size(), 1u);
    EXPECT_EQ(user.Boxes()[0].Text.toStdString(), Stopped);

    const StoreOnDisk disk = ReadResultsFile();
    const auto* results = disk.ResultsOf(CurrentComputer);
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->size(), 1u);
    EXPECT_TRUE(SameConfiguration((*results)[0], Expected(16)));
}

} // namespace

namespace {

// The program runs its series inside the application's message loop, with the main window
// hidden: no window closing on the way (the test screen, the progress window, the final
// message) may end the program.
TEST_F(RealSeries, TheProgramGoesOnAfterTheSeries) {
    choice_.Ticked[1] = false;
    choice_.Presentation = true;
    MessageBoxUser user(QMessageBox::Ok);
    bool seriesOver = false;
    bool mainShownAfter = false;
    QTimer::singleShot(0, [&] {
        RunSeries(&mainWindow_, choice_);
        seriesOver = true;
        mainShownAfter = mainWindow_.isVisible();
        // Still running a while later: the loop ends only when the program says so.
        QTimer::singleShot(500, [] { QCoreApplication::exit(42); });
    });
    const int exitCode = QApplication::exec();
    EXPECT_TRUE(seriesOver);
    EXPECT_TRUE(mainShownAfter);
    EXPECT_EQ(exitCode, 42) << "the message loop ended by itself";
    EXPECT_FALSE(TestFailed) << StatusText;
    ASSERT_EQ(user.Boxes().size(), 1u);
    EXPECT_EQ(user.Boxes()[0].Text.toStdString(), SeriesSucceededText);
}

} // namespace
