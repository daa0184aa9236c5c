// The display modes and accelerations that the main window offers: the mode test, the
// captions of the mode check boxes, the acceleration list and the full/selective switch.
// Plain functions, shared by the window and a command line.
#pragma once

#include "state/Variables.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Asks accepts(width, height, depth) for each of the ten modes in mode order and stores the
// answers in ModeAvailable.
void TestDisplayModes(const std::function<bool(int, int, int)>& accepts);
// The same with this computer's screen.
void TestDisplayModes();

// One caption per available mode, in mode order: "1024 x 768 pixels, 32 bits". The k-th
// caption belongs to CheckBox<k>.
std::vector<std::string>
ModeCaptions(const std::uint8_t (&available)[ModeSizeCount][ModeDepthCount]);

// The acceleration items (UTF-8) for an adapter with these capabilities; none when Direct3D 8
// is missing, in which case the launch buttons stay disabled.
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
