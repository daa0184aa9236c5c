// The system's error numbers in the windows' Russian.
#pragma once

#include <string>

// The errors a user meets in files and folders (no room, no right, no such folder, ...) in
// words of the windows' Russian; any other in the system's own words (SystemErrorText), which
// have no translation here.
std::string RussianErrorText(int errorNumber);
