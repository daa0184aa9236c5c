// A test or presentation series: the passes the user's choice stands for, and running them
// with the progress window between passes, the merge and save of Results.bin after them and
// the final message.
#pragma once

#include "platform/ScreenSaver.h"
#include "state/Variables.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

inline constexpr int ModeBoxCount = ModeSizeCount * ModeDepthCount;

// What the main window's controls say when a launch button is pressed.
struct SeriesChoice {
    // CheckBox1..CheckBox10: box k shows the k-th available mode in mode order.
    std::array<bool, ModeBoxCount> Ticked{};
    // The selected item of ComboAcc; -1 when nothing is selected.
    int AccelerationItem = 0;
    // BitBtn2 (presentation, detail level 1) rather than BitBtn1 (test, detail level 4).
    bool Presentation = false;
};

using TModeAvailability = std::uint8_t[ModeSizeCount][ModeDepthCount];

// Reads the choice from the main window's controls "CheckBox<k>" and "ComboAcc".
SeriesChoice ReadSeriesChoice(const QWidget& mainWindow, bool presentation);

// Two sweeps when the adapter has a HAL device with hardware transform and lighting and the
// first item ("Аппаратное и программное") is selected; otherwise one.
int SweepCount(const D3DCAPS8& halCaps, int accelerationItem);

struct TDeviceSettings {
    std::uint8_t HardwareDevice;
    std::uint8_t HardwareVertexProcessing;
};
// The device of every pass of sweep number sweep (from 0).
TDeviceSettings SweepSettings(const D3DCAPS8& halCaps, int accelerationItem, int sweep);

// The passes of the series in the order they run: sweep by sweep, the ticked available modes
// in mode order.
std::vector<TTestConfig> SeriesPasses(const SeriesChoice& choice, const D3DCAPS8& halCaps,
                                      const TModeAvailability& available);

// The progress bar's maximum: ticked available modes times sweeps.
int ProgressMaximum(const SeriesChoice& choice, const D3DCAPS8& halCaps,
                    const TModeAvailability& available);

// One real pass for CurrentTest: a fresh TTestScreen (the global TestScreen while it lives),
// shown, MainProc, closed and destroyed.
void RunTestScreenPass();
// The progress window (IndicForm, or a window of its own when there is none) at done of
// planned, shown modally until its timer closes it.
void ShowProgressWindow(int done, int planned);

// The message at the end of a series in a plain-text box with one OK button: a warning unless
// it is the success text.
void ShowSeriesEnd(const std::string& text);

// What a series does outside itself. Tests replace the pass, the progress window or the
// screen-saver service; the command line runs without windows.
struct SeriesSeams {
    std::function<void()> RunPass = RunTestScreenPass;
    std::function<void(int done, int planned)> ShowProgress = ShowProgressWindow;
    std::function<void(bool active)> ScreenSaver = SetScreenSaverActive;
    std::function<void(const std::string& text)> ShowEnd = ShowSeriesEnd;
};

inline constexpr const char* SeriesSucceededText = "Тестирование успешно завершено.";

// How a series ended: whether a pass failed or was stopped, and what became of the save.
struct TSeriesOutcome {
    bool Failed = false;
    TSaveOutcome Save;
};

// The message at the end of a series: the success text, or statusText after a failed pass;
// followed by what the user must know of the save: that the results were not saved and why,
// or under which name an unreadable Results.bin was kept.
std::string SeriesEndText(bool failed, const std::string& statusText, const TSaveOutcome& save);

// The whole series of BitBtn1Click and BitBtn2Click for this computer (CurrentComputer,
// ModeAvailable): hides mainWindow (may be null), keeps the screen saver off, clears
// TestFailed, runs the passes with the pointer hidden during each and the progress window
// after each, stops after a failed one, merges and saves Results.bin (MergeAndSaveResults),
// shows SeriesEndText, and shows mainWindow again. A pass that throws counts as a failed pass
// with the exception's text.
TSeriesOutcome RunSeries(QWidget* mainWindow, const SeriesChoice& choice,
                         const SeriesSeams& seams = {});
