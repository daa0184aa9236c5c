// Where the program's own files are. In the build tree the runtime library lies next to the
// executable. Installed, the layout is <prefix>/bin/stendograph, the runtime in
// <prefix>/lib/stendograph and the shared files (Help.html)
// in <prefix>/share/stendograph. The build defines both folders once, relative to bin.
#pragma once

#include <filesystem>

// The runtime library's file name.
inline constexpr const char* RuntimeLibraryName = "libd3d8.so";

// The folder of the running executable; empty if the system does not say.
std::filesystem::path ExecutableFolder();

// An installed copy: no runtime next to the executable, but one in the installed library
// folder beside it.
bool RunningInstalled();

// The installed runtime folder and shared-files folder of this executable.
std::filesystem::path InstalledLibraryFolder();
std::filesystem::path InstalledDataFolder();
