// Fonts of the windows that Debian does not carry under their names.
#pragma once

#include <QFont>

// The family whose Black face stands in for "Arial Black", which has no metric twin on Debian;
// the buttons ask for the Black weight.
inline constexpr const char* ArialBlackStandIn = "Lato";

// Maps the window fonts to the faces installed with the program, once per process.
void InstallFontSubstitutions();

// "Arial Black" at that cell height in pixels, Black weight.
QFont ArialBlackFont(int pixelSize);
