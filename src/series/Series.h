// A test or presentation series without any window: the passes a choice stands for, running
// them one after another, and the merge and save of Results.bin after them. The main window
// and the command line both run their series through RunSeries, each with its own seams.
#pragma once

#include "bench/Test1.h"
#include "state/Variables.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

inline constexpr int ModeBoxCount = ModeSizeCount * ModeDepthCount;

// The choice a series is run for, as the main window's controls state it.
struct SeriesChoice {
    // CheckBox1..CheckBox10: box k stands for the k-th available mode in mode order.
    std::array<bool, ModeBoxCount> Ticked{};
    // The chosen item of the accelerations this computer offers (AccelerationChoices); -1
    // when none is chosen.
    int AccelerationItem = 0;
    // The presentation (detail level 1) rather than the test (detail level 4).
    bool Presentation = false;
};

using TModeAvailability = std::uint8_t[ModeSizeCount][ModeDepthCount];

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
// shown, MainProc, closed and destroyed; what MainProc handed back.
TPassOutcome RunTestScreenPass();

// How a series ended: whether a pass failed or was stopped, and what became of the save.
struct TSeriesOutcome {
    bool Failed = false;
    TSaveOutcome Save;
};

// What a series does outside itself; each front end gives its own.
struct TSeriesSeams {
    // One pass of CurrentTest; it sets TestFailed and StatusText when it fails.
    std::function<void()> RunPass;
    // After each pass run: passes done of passes planned.
    std::function<void(int done, int planned)> ShowProgress;
    std::function<void(bool active)> ScreenSaver;
    // After the save, before the screen saver comes back.
    std::function<void(const TSeriesOutcome& outcome)> ShowEnd;
};

// The series for this computer (CurrentComputer, ModeAvailable): keeps the screen saver off,
// clears TestFailed, runs the passes with the pointer hidden during each and a progress step
// after each, stops after a failed one, merges and saves Results.bin (MergeAndSaveResults),
// tells the end, and lets the screen saver come back. A pass that throws counts as a failed
// pass with the exception's text.
TSeriesOutcome RunSeries(const SeriesChoice& choice, const TSeriesSeams& seams);
