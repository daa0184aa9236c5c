#include "mainwin/Series.h"

#include "bench/Test1.h"
#include "mainwin/IndicForm1.h"
#include "platform/Cursor.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QWidget>

#include <exception>
#include <memory>
#include <string>

namespace {

constexpr DWORD HardwareTransformAndLight = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
constexpr std::uint8_t ManagedPool = 2;
constexpr std::uint8_t TestDetail = 4;
constexpr std::uint8_t PresentationDetail = 1;

bool HasHalDevice(const D3DCAPS8& halCaps) {
    return halCaps.DeviceType != 0;
}

bool HasHardwareTransform(const D3DCAPS8& halCaps) {
    return (halCaps.DevCaps & HardwareTransformAndLight) != 0;
}

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

std::string SeriesEndText(bool failed, const std::string& statusText, const TSaveOutcome& save) {
    if (!save.Saved)
        return (failed ? statusText + "\r\n\r\n" : std::string()) +
               "Результаты тестирования не сохранены в файле Results.bin: " +
               SaveFailureText(save) +
               ".\r\nОни остаются в памяти программы: сохранение будет повторено после "
               "следующего тестирования, а при закрытии программы будет предложено снова.";
    const std::string text = failed ? statusText : SeriesSucceededText;
    return save.KeptAs.empty() ? text : text + "\r\n\r\n" + KeptFileText(save.KeptAs);
}

void ShowSeriesEnd(const std::string& text) {
    ShowMessage(text == SeriesSucceededText ? QMessageBox::Information : QMessageBox::Warning,
                QString::fromStdString(text));
}

SeriesChoice ReadSeriesChoice(const QWidget& mainWindow, bool presentation) {
    SeriesChoice choice;
    for (int k = 1; k <= ModeBoxCount; ++k) {
        const auto* box = mainWindow.findChild<QCheckBox*>(QString("CheckBox%1").arg(k));
        choice.Ticked[static_cast<std::size_t>(k - 1)] = box != nullptr && box->isChecked();
    }
    const auto* combo = mainWindow.findChild<QComboBox*>("ComboAcc");
    choice.AccelerationItem = combo != nullptr ? combo->currentIndex() : -1;
    choice.Presentation = presentation;
    return choice;
}

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
            test.VertexBufferMode = ManagedPool;
            test.TextureMode = ManagedPool;
            test.DetailLevel = choice.Presentation ? PresentationDetail : TestDetail;
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

void RunTestScreenPass() {
    auto screen = std::make_unique<TTestScreen>();
    TestScreen = screen.get();
    struct Forget {
        ~Forget() { TestScreen = nullptr; }
    } forget;
    screen->show();
    screen->MainProc();
    screen->close();
}

void ShowProgressWindow(int done, int planned) {
    std::unique_ptr<TIndicForm> own;
    TIndicForm* form = IndicForm;
    if (form == nullptr) {
        own = std::make_unique<TIndicForm>();
        form = own.get();
    }
    form->IndicBar->setMinimum(0);
    form->IndicBar->setMaximum(planned);
    form->IndicBar->setValue(done);
    form->exec();
}

TSeriesOutcome RunSeries(QWidget* mainWindow, const SeriesChoice& choice,
                         const SeriesSeams& seams) {
    if (mainWindow != nullptr)
        mainWindow->hide();
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
        RunPassGuarded(seams.RunPass);
        ++done;
        seams.ShowProgress(done, planned);
    }

    TSeriesOutcome outcome;
    try {
        outcome.Save = MergeAndSaveResults();
    } catch (const std::exception& error) {
        // Out of memory while writing, say: the file is untouched, and never a success.
        outcome.Save.File = {TFileStep::Write, 0};
        ResultsUnsaved = true;
        SetStatusText(std::string("Results.bin: ") + error.what());
        TestFailed = true;
    }
    outcome.Failed = TestFailed;
    seams.ShowEnd(SeriesEndText(outcome.Failed, StatusText, outcome.Save));
    seams.ScreenSaver(true);
    if (mainWindow != nullptr)
        mainWindow->show();
    return outcome;
}
