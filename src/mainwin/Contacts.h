#pragma once

// The program's web site and contact address, shown in the main window, opened by its links
// and offered in the question at close. Defined here alone.
inline constexpr const char* ProgramWebSite = "https://stendograph.org/";
inline constexpr const char* ProgramEmail = "results@stendograph.org";
