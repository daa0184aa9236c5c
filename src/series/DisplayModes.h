// The ten display modes this computer's screen accepts, and their captions.
#pragma once

#include "state/Variables.h"

#include <functional>
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
