// Real passes through MainProc: the runtime on Mesa under Xvfb, a real test screen, textures
// from the program's pictures, the results store in memory. A full pass takes about 11 s.
#include "PassFixture.h"
#include "bench/Test1.h"
#include "state/ResultPlausibility.h"
#include "state/Variables.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace passtest;

const char* const Stopped = "Тестирование было остановлено пользователем.";
const char* const Completed = "Test was completed successfully.";

class Pass : public testing::Test {
protected:
    static void SetUpTestSuite() { LoadDirect3DLibrary(); }

    void SetUp() override {
        savedComputer_ = CurrentComputer;
        savedIndex_ = CurrentComputerIndex;
        savedTest_ = CurrentTest;
        ASSERT_NE(Direct3DLibraryHandle(), nullptr) << "libd3d8.so next to the test program";

        // This computer as the store holds it, with one unrelated result already there.
        D3DCAPS8 hal, ref;
        ReadCaps(hal, ref);
        CurrentComputer = TComputerRecord{};
        CurrentComputer.HalCaps = hal;
        CurrentComputer.RefCaps = ref;
        Computers.push_back(CurrentComputer);
        ComputerDevices.emplace_back();
        TResultRecord unrelated{};
        unrelated.TestSet = 1;
        unrelated.Width = 1600;
        unrelated.Height = 1200;
        unrelated.Depth = 16;
        unrelated.DetailLevel = 4;
        unrelated.RunCount = 3;
        ComputerResults.push_back({unrelated});
        CurrentComputerIndex = static_cast<std::int32_t>(ComputerResults.size() - 1);
        TestFailed = false;
        ResultsChanged = false;
        StatusText.clear();
    }

    void TearDown() override {
        SoftwareAsHardware(0);
        Computers.pop_back();
        ComputerDevices.pop_back();
        ComputerResults.pop_back();
        CurrentComputer = savedComputer_;
        CurrentComputerIndex = savedIndex_;
        CurrentTest = savedTest_;
        TestFailed = false;
    }

    // The HAL device on this machine: the runtime's switch where the renderer is software.
    void UseHalDevice() {
        ASSERT_TRUE(SoftwareAsHardware(1)) << "the runtime's test switch is missing";
        ReadCaps(CurrentComputer.HalCaps, CurrentComputer.RefCaps);
        ASSERT_NE(CurrentComputer.HalCaps.DeviceType, 0u);
    }

    std::vector<TResultRecord>& Results() { return ComputerResults[CurrentComputerIndex]; }

    // What the last RunPass saw of its screen's working state and the pass's outcome.
    std::int32_t ProgressGrey = 0;
    std::uint32_t FramesDrawn = 0;
    TFrameStats FrameStats;
    std::uint8_t LastBlackPercent = 0;

    // Creates a screen, shows it, runs MainProc, destroys it, as the launch code does.
    // duringPass runs on a timer while the pass pumps messages.
    void RunPass(const TTestConfig& test, std::function<void(TTestScreen&)> duringPass = {}) {
        CurrentTest = test;
        TTestScreen screen;
        TestScreen = &screen;
        screen.show();
        QTimer timer;
        if (duringPass) {
            QObject::connect(&timer, &QTimer::timeout, [&] { duringPass(screen); });
            timer.start(10);
        }
        const TPassOutcome outcome = screen.MainProc();
        timer.stop();
        ProgressGrey = screen.ProgressGrey;
        FramesDrawn = screen.FramesDrawn;
        FrameStats = screen.FrameStats;
        LastBlackPercent = outcome.BlackPercent;
        EXPECT_EQ(outcome.Recorded, !TestFailed);
        EXPECT_EQ(outcome.Failure.empty(), !TestFailed);
        if (outcome.Recorded) {
            const TResultRecord& stored = Results()[Results().size() - 1];
            EXPECT_EQ(std::memcmp(&outcome.Result, &stored, sizeof stored), 0)
                << "the outcome holds the record as stored";
            const std::size_t frames = outcome.Result.FrameCount;
            EXPECT_EQ(outcome.FrameTimes.Times().size(), frames);
        }
        // Everything the pass created is gone when it returns.
        EXPECT_EQ(screen.Direct3D, nullptr);
        EXPECT_EQ(screen.Device, nullptr);
        EXPECT_EQ(screen.VertexBuffer, nullptr);
        for (IDirect3DTexture8* texture : screen.Textures)
            EXPECT_EQ(texture, nullptr);
        TestScreen = nullptr;
    }

    // Runs a pass that must fail with text, leaving the store as it was.
    void ExpectFailure(const TTestConfig& test, const std::string& text) {
        const std::vector<TResultRecord> before = Results();
        RunPass(test);
        EXPECT_TRUE(TestFailed);
        EXPECT_EQ(StatusText, text);
        EXPECT_FALSE(ResultsChanged);
        ASSERT_EQ(Results().size(), before.size());
        EXPECT_EQ(
            std::memcmp(Results().data(), before.data(), before.size() * sizeof(TResultRecord)), 0);
        TestFailed = false;
    }

    // A recorded pass of test whose fields agree with each other.
    TResultRecord ExpectRecorded(const TTestConfig& test) {
        EXPECT_FALSE(TestFailed) << StatusText;
        EXPECT_EQ(StatusText, Completed);
        EXPECT_TRUE(ResultsChanged);
        EXPECT_EQ(ProgressGrey, 40); // 200 down to 60 in eight steps
        std::optional<TResultRecord> found;
        for (const TResultRecord& r : Results()) {
            if (r.Width == test.Width && r.Depth == test.Depth &&
                r.HardwareDevice == test.HardwareDevice &&
                r.HardwareVertexProcessing == test.HardwareVertexProcessing &&
                r.DetailLevel == test.DetailLevel)
                found = r;
        }
        if (!found) {
            ADD_FAILURE() << "no record of the pass";
            return TResultRecord{};
        }
        const TResultRecord r = *found;
        EXPECT_EQ(std::memcmp(reinterpret_cast<const std::uint8_t*>(&r) + 10, &test, 13), 0);
        EXPECT_EQ(r.TestSet, 1);
        EXPECT_GE(r.FrameCount, 1u);
        const double g = std::exp(static_cast<double>(r.SumLogFrameTime) / r.FrameCount);
        const double triangles = 25600.0 * test.DetailLevel * test.DetailLevel;
        EXPECT_NEAR(r.TrianglesPerMs, triangles / g, triangles / g * 1e-3);
        EXPECT_NEAR(r.Fps, 1000.0 / g, 1000.0 / g * 1e-3);
        EXPECT_LE(r.MinFps, r.Fps * 1.0001);
        EXPECT_GE(r.MaxFps, r.Fps * 0.9999);
        EXPECT_GE(r.FrameTimeSpread, 1.0f);
        EXPECT_TRUE(std::isfinite(r.FrameTimeSpread));
        // The measured frames cover the 7000 ms but for the message pumps between them.
        EXPECT_GE(r.TotalTimeMs, 6000);
        EXPECT_LE(r.TotalTimeMs, 7000 + 1000.0 / r.MinFps + 1);
        for (int k = 0; k < 4; ++k) {
            EXPECT_NE(r.AvailPhys[k], 0u) << k;
            EXPECT_NE(r.AvailTextureMem[k], 0u) << k;
        }
        // The lit corridor is mostly not black.
        EXPECT_LT(r.BlackPercent, 50);
        EXPECT_GT(r.EmptyFps, 0);
        EXPECT_NEAR(r.Timestamp, CurrentDateTime(), 1.0 / 24 / 60 * 2); // within two minutes
        // What every intake believes of a record: what a pass records always passes.
        EXPECT_EQ(JudgeResult(r, LatestPlausibleTimestamp()), TImplausible::None)
            << ImplausibleText(JudgeResult(r, LatestPlausibleTimestamp()));
        return r;
    }

private:
    TempDir workDir_{true}; // no texture cache files unless a test writes them
    TComputerRecord savedComputer_{};
    std::int32_t savedIndex_ = 0;
    TTestConfig savedTest_{};
};

TEST_F(Pass, ReferenceDeviceRecordsAndASecondPassUpdatesTheAggregates) {
    const TTestConfig test = Config(640, 480, 32, Kind::Ref, 4);
    RunPass(test);
    const TResultRecord first = ExpectRecorded(test);
    EXPECT_EQ(first.RunCount, 1);
    EXPECT_FLOAT_EQ(first.FpsSum, first.Fps);
    EXPECT_FLOAT_EQ(first.FpsMin, first.Fps);
    EXPECT_FLOAT_EQ(first.FpsMax, first.Fps);
    EXPECT_EQ(Results().size(), 2u);
    EXPECT_EQ(Results()[0].RunCount, 3); // the unrelated entry is left alone

    ResultsChanged = false;
    RunPass(test);
    const TResultRecord second = ExpectRecorded(test);
    EXPECT_EQ(Results().size(), 2u);
    EXPECT_EQ(second.RunCount, 2);
    EXPECT_FLOAT_EQ(second.FpsSum, first.Fps + second.Fps);
    EXPECT_FLOAT_EQ(second.FpsMin, std::min(first.Fps, second.Fps));
    EXPECT_FLOAT_EQ(second.FpsMax, std::max(first.Fps, second.Fps));
}

TEST_F(Pass, ReferenceDeviceSixteenBitsDetailOne) {
    const TTestConfig test = Config(640, 480, 16, Kind::Ref, 1);
    RunPass(test);
    ExpectRecorded(test);
}

TEST_F(Pass, HalDeviceWithHardwareVertexProcessing) {
    UseHalDevice();
    const TTestConfig test = Config(640, 480, 32, Kind::HalHardware, 4);
    RunPass(test);
    ExpectRecorded(test);
}

TEST_F(Pass, HalDeviceWithSoftwareVertexProcessing) {
    UseHalDevice();
    const TTestConfig test = Config(640, 480, 16, Kind::HalSoftware, 4);
    RunPass(test);
    ExpectRecorded(test);
}

TEST_F(Pass, FailuresLeaveTheStoreAloneAndReleaseEverything) {
    const TTestConfig test = Config(640, 480, 32, Kind::Ref, 1);
    const D3DCAPS8 caps = CurrentComputer.RefCaps;
    ASSERT_GE(caps.MaxActiveLights, 8u);

    LoadDirect3DLibrary("/nonexistent/libd3d8.so");
    ExpectFailure(test, "DirectX 8.0 is not installed.");
    LoadDirect3DLibrary();

    CurrentComputer.RefCaps.MaxActiveLights = 7;
    CurrentComputer.RefCaps.MaxTextureHeight = 512; // the lights are checked first
    ExpectFailure(test, "3D accelerator does not support 8 lights.");
    CurrentComputer.RefCaps = caps;
    CurrentComputer.RefCaps.MaxTextureWidth = 1024;
    CurrentComputer.RefCaps.MaxTextureHeight = 512;
    ExpectFailure(test, "3D accelerator does not support 1024x1024 textures.");
    CurrentComputer.RefCaps = caps;

    TTestConfig badPool = test;
    badPool.VertexBufferMode = 7;
    ExpectFailure(badPool, "DirectX can not create vertex buffer.");
    badPool = test;
    badPool.TextureMode = 3;
    ExpectFailure(badPool, "DirectX can not create texture.");
}

TEST_F(Pass, EscBeforeTheLoopDrawsNoFrame) {
    const TTestConfig test = Config(640, 480, 32, Kind::Ref, 1);
    CurrentTest = test;
    TTestScreen screen;
    screen.show();
    // Seen at the first message pump; the set-up goes on, the loop stops at its first check.
    QCoreApplication::postEvent(&screen,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::ShiftModifier));
    const std::vector<TResultRecord> before = Results();
    screen.MainProc();
    EXPECT_TRUE(TestFailed);
    EXPECT_EQ(StatusText, Stopped);
    EXPECT_EQ(screen.FramesDrawn, 0u);
    EXPECT_EQ(screen.ProgressGrey, 40); // the set-up ran to its end
    EXPECT_EQ(Results().size(), before.size());
    EXPECT_FALSE(ResultsChanged);
    EXPECT_EQ(screen.Device, nullptr);
}

TEST_F(Pass, EscDuringTheLoopEndsItAfterThatFrame) {
    // Black cache files for every texture: the pictures must come from them, not be prepared.
    TempDir dir(true);
    const std::vector<char> zeros(TextureCacheBytes, 0);
    for (int i = 0; i < TextureCount; ++i) {
        std::ofstream file(TextureCacheFileName(TestSet, i), std::ios::binary);
        file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }

    const TTestConfig test = Config(640, 480, 32, Kind::Ref, 1);
    std::uint32_t drawnAtEsc = 0;
    RunPass(test, [&](TTestScreen& screen) {
        if (drawnAtEsc == 0 && screen.FramesDrawn >= 6) {
            drawnAtEsc = screen.FramesDrawn;
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::ControlModifier);
            QCoreApplication::sendEvent(&screen, &esc);
        }
    });
    EXPECT_TRUE(TestFailed);
    EXPECT_EQ(StatusText, Stopped);
    ASSERT_GE(drawnAtEsc, 6u);
    EXPECT_EQ(FramesDrawn, drawnAtEsc); // that frame finished, no further one was drawn
    EXPECT_EQ(FrameStats.N, drawnAtEsc - 3);
    EXPECT_EQ(LastBlackPercent, 100); // a corridor of black pictures
    EXPECT_EQ(Results().size(), 1u);
    EXPECT_FALSE(ResultsChanged);
}

// Shown over a white window, the test screen shows black before any device draws into it.
TEST(TestScreen, IsBlackWhenShown) {
    const auto waitExposed = [](const QWindow& window) {
        QElapsedTimer wait;
        wait.start();
        while (!window.isExposed() && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return window.isExposed();
    };
    QScreen* desktop = QGuiApplication::primaryScreen();
    ASSERT_NE(desktop, nullptr);
    QWidget white;
    white.setAutoFillBackground(true);
    white.setPalette(QPalette(Qt::white));
    white.setGeometry(desktop->geometry());
    white.show();
    ASSERT_TRUE(waitExposed(*white.windowHandle()));

    TTestScreen screen;
    screen.show();
    ASSERT_TRUE(waitExposed(screen));
    // Whatever the X server still has to do for the new window is done after a round trip.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    const QRect area = screen.geometry();
    const QImage shown =
        desktop->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    ASSERT_EQ(shown.size(), area.size());
    int notBlack = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            notBlack += (shown.pixel(x, y) & 0xFFFFFFu) != 0;
    EXPECT_EQ(notBlack, 0) << "of " << area.width() * area.height() << " pixels";
}

TEST(TestScreen, EscWhateverTheModifiersOtherKeysNothing) {
    TTestScreen screen;
    TestFailed = false;
    StatusText = "before";
    screen.FormKeyDown(Qt::Key_A, Qt::NoModifier);
    screen.FormKeyDown(Qt::Key_Return, Qt::NoModifier);
    EXPECT_FALSE(TestFailed);
    EXPECT_EQ(StatusText, "before");
    screen.FormKeyDown(Qt::Key_Escape, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_TRUE(TestFailed);
    EXPECT_EQ(StatusText, Stopped);
    TestFailed = false;

    EXPECT_EQ(screen.size(), QSize(304, 211));
    EXPECT_TRUE(screen.flags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(screen.flags().testFlag(Qt::WindowStaysOnTopHint));
}

} // namespace
