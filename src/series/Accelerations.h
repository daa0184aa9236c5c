// The kinds of acceleration a series can run with on this computer, as values. The main
// window's list shows them by their captions, the command line takes them by their words.
#pragma once

#include "state/Variables.h"

#include <vector>

enum class TAccelerationChoice {
    HwAndSw,   // hardware, then software vertex processing: two sweeps
    Hw,        // hardware vertex processing
    Sw,        // software vertex processing on the hardware device
    Emulation, // full software emulation (the reference device)
};

// What the adapter of this computer offers, in the order of the main window's list: none when
// Direct3D 8 is missing; with a HAL device, both and hardware vertex processing when it has
// hardware transform and lighting, then software; without one, emulation only.
std::vector<TAccelerationChoice> AccelerationChoices(const TComputerRecord& computer,
                                                     bool direct3DMissing);

// The caption of the main window's list (UTF-8): "Аппаратное и программное", ...
const char* AccelerationCaption(TAccelerationChoice choice);
// The word of the command line's --accel: hw+sw, hw, sw, emulation.
const char* AccelerationWord(TAccelerationChoice choice);

// Whether a computer's HAL capabilities have a HAL device, and one with hardware transform
// and lighting.
bool HasHalDevice(const D3DCAPS8& halCaps);
bool HasHardwareTransform(const D3DCAPS8& halCaps);
