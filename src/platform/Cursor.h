// Hiding the mouse pointer over every window of the program, as during a benchmark pass.
#pragma once

// false hides the pointer, true shows it again. Calls nest like the Windows display count:
// the pointer shows once every hide has been matched; a show without a hide does nothing.
void ShowCursor(bool show);
