// The display modes and accelerations that the main window offers: the captions of the mode
// check boxes (series/DisplayModes.h), the acceleration list and the full/selective switch.
// Plain functions the window's handlers call.
#pragma once

#include "series/DisplayModes.h"
#include "state/Variables.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The captions (UTF-8) of the accelerations an adapter with these capabilities offers
// (AccelerationChoices); none when Direct3D 8 is missing, in which case the launch buttons
// stay disabled.
std::vector<std::string> AccelerationItems(const TComputerRecord& computer, bool direct3DMissing);

// What a change of the test scope does to the other controls.
struct TScopeChange {
    bool ControlsEnabled;  // the mode box and the acceleration list
    int AccelerationIndex; // the acceleration item to select (unchanged where it stays)
    bool ModesChecked;     // the check mark of every available mode's box
};

// Scope index 0 (full testing) or 1 (selective testing); nothing for any other index.
std::optional<TScopeChange> ScopeChange(int scopeIndex, int accelerationCount,
                                        int accelerationIndex);
