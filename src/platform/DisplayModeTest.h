// Whether a full-screen display mode could be set, without changing anything.
#pragma once

// The test screen renders into a back buffer of the mode's size shown on the whole primary
// screen: a mode is accepted when the screen has at least that many pixels each way and the
// depth is one the device renders (16 or 32 bits).
bool DisplayModeAccepted(int screenWidth, int screenHeight, int width, int height, int depth);
// The same question asked of this computer's primary screen; false without a screen.
bool DisplayModeAvailable(int width, int height, int depth);
