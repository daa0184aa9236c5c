// Runs a command-line mode to its end, without any window, and gives the exit status.
#pragma once

#include "cli/CommandLine.h"

int RunCommandLine(const TCommandLineOptions& options, int argc, char** argv);
