#include "series/Series.h"

#include "platform/Cursor.h"
#include "series/Accelerations.h"

#include <exception>
#include <memory>
#include <string>

namespace {

// The ticked boxes among the shown ones, as (mode index, depth index) in mode order.
template <typename Visit>
void ForEachTickedMode(const SeriesChoice& choice, const TModeAvailability& available,
                       Visit visit) {
    int k = 0;
    for (int mode = 0; mode < ModeSizeCount; ++mode) {
        for (int depth = 0; depth < ModeDepthCount; ++depth) {
            if (available[mode][depth] == 0)
                continue;
            ++k;
            if (choice.Ticked[static_cast<std::size_t>(k - 1)])
                visit(mode, depth);
        }
    }
}

// The pointer stays hidden while a pass runs, whatever way the pass ends.
class HiddenCursor {
public:
    HiddenCursor() { ShowCursor(false); }
    ~HiddenCursor() { ShowCursor(true); }
    HiddenCursor(const HiddenCursor&) = delete;
    HiddenCursor& operator=(const HiddenCursor&) = delete;
};

void RunPassGuarded(const std::function<void()>& runPass) {
    HiddenCursor hidden;
    try {
        runPass();
    } catch (const std::exception& error) {
        TestFailed = true;
        SetStatusText(std::string("Unexpected error: ") + error.what());
    } catch (...) {
        TestFailed = true;
        SetStatusText("Unexpected error.");
    }
}

} // namespace

int SweepCount(const D3DCAPS8& halCaps, int accelerationItem) {
    return HasHalDevice(halCaps) && HasHardwareTransform(halCaps) && accelerationItem == 0 ? 2 : 1;
}

TDeviceSettings SweepSettings(const D3DCAPS8& halCaps, int accelerationItem, int sweep) {
    if (sweep >= 1)
        return {1, 0};
    if (!HasHalDevice(halCaps))
        return {0, 0};
    const bool hardwareVertices =
        HasHardwareTransform(halCaps) && (accelerationItem == 0 || accelerationItem == 1);
    return {1, static_cast<std::uint8_t>(hardwareVertices ? 1 : 0)};
}

std::vector<TTestConfig> SeriesPasses(const SeriesChoice& choice, const D3DCAPS8& halCaps,
                                      const TModeAvailability& available) {
    std::vector<TTestConfig> passes;
    const int sweeps = SweepCount(halCaps, choice.AccelerationItem);
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        const TDeviceSettings device = SweepSettings(halCaps, choice.AccelerationItem, sweep);
        ForEachTickedMode(choice, available, [&](int mode, int depth) {
            TTestConfig test{};
            test.Width = static_cast<std::uint16_t>(ModeSizes[mode].Width);
            test.Height = static_cast<std::uint16_t>(ModeSizes[mode].Height);
            test.Depth = static_cast<std::uint16_t>(ModeDepths[depth]);
            test.RefreshRate = 0;
            test.HardwareDevice = device.HardwareDevice;
            test.HardwareVertexProcessing = device.HardwareVertexProcessing;
            test.VertexBufferMode = ManagedPoolCode;
            test.TextureMode = ManagedPoolCode;
            test.DetailLevel = choice.Presentation ? PresentationDetailLevel : TestDetailLevel;
            passes.push_back(test);
        });
    }
    return passes;
}

int ProgressMaximum(const SeriesChoice& choice, const D3DCAPS8& halCaps,
                    const TModeAvailability& available) {
    int maximum = 0;
    ForEachTickedMode(choice, available, [&](int, int) { ++maximum; });
    return maximum * SweepCount(halCaps, choice.AccelerationItem);
}

TPassOutcome RunTestScreenPass() {
    auto screen = std::make_unique<TTestScreen>();
    TestScreen = screen.get();
    struct Forget {
        ~Forget() { TestScreen = nullptr; }
    } forget;
    screen->show();
    TPassOutcome outcome = screen->MainProc();
    screen->close();
    return outcome;
}

TSeriesOutcome RunSeries(const SeriesChoice& choice, const TSeriesSeams& seams) {
    if (seams.ScreenSaver)
        seams.ScreenSaver(false);
    TestFailed = false;

    const std::vector<TTestConfig> passes =
        SeriesPasses(choice, CurrentComputer.HalCaps, ModeAvailable);
    const int planned = ProgressMaximum(choice, CurrentComputer.HalCaps, ModeAvailable);
    int done = 0;
    for (const TTestConfig& test : passes) {
        if (TestFailed)
            break;
        CurrentTest = test;
        RunPassGuarded(seams.RunPass ? seams.RunPass : [] { RunTestScreenPass(); });
        ++done;
        if (seams.ShowProgress)
            seams.ShowProgress(done, planned);
    }

    TSeriesOutcome outcome;
    try {
        outcome.Save = MergeAndSaveResults();
    } catch (const std::exception& error) {
        // Out of memory while writing, say: the file is untouched, and never a success.
        outcome.Save.File = {TFileStep::Write, 0};
        ResultsUnsaved = true;
        SetStatusText(std::string(ResultsFileName) + ": " + error.what());
        TestFailed = true;
    }
    outcome.Failed = TestFailed;
    if (seams.ShowEnd)
        seams.ShowEnd(outcome);
    if (seams.ScreenSaver)
        seams.ScreenSaver(true);
    return outcome;
}
