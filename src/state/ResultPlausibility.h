// What a measurement of this program can look like. The file format has no checksum, so a
// damaged or forged record is told apart from a measured one by its meaning alone: its
// configuration is one the program runs, and its figures agree with each other as the pass
// computes them, within what float rounding allows. Every intake of records (a results file
// merged by the windows or the command line, a download, an upload to the server) leaves out
// what fails here, and every record the program writes passes.
#pragma once

#include "state/Variables.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Why a record cannot be a measurement; None when it can.
enum class TImplausible : std::uint8_t {
    None,
    // results
    Timestamp,     // not finite, before 2000 or later than the latest plausible time
    TestSet,       // not the program's test set
    ReservedBytes, // reserved bytes not zero
    DisplayMode,   // not one of the ten display modes
    Acceleration,  // a device and vertex processing the program never combines
    MemoryPool,    // a pool code other than system memory, default or managed
    DetailLevel,   // neither a test nor a presentation
    RefreshRate,   // above any display's
    BlackPercent,  // above 100
    NotFinite,     // a figure is NaN or infinite
    RunCount,      // not positive
    FrameCount,    // not positive
    FrameTimes,    // shortest, longest, total and count of frames disagree
    FrameRate,     // the frame rate disagrees with the logarithms of the frame times
    Triangles,     // triangles per ms disagree with the frame rate and the detail level
    Spread,        // the frame-time spread disagrees with the logarithms
    RunStatistics, // sum, minimum and maximum over the runs disagree with the count and rate
    // computers
    RecordTag,        // the record tag is not "1"
    ControlCharacter, // a text holds a control character
    MemoryText,       // the memory size is neither a number nor "n/d"
    Capabilities,     // a capability block of the wrong device type or adapter
    DeviceLines,      // more device lines than any computer has
};

// The most device lines a computer can have: the two headings and, for each of the two device
// classes, one line per registry subkey of four decimal digits.
inline constexpr std::size_t MaxDeviceLines = 2 + 2 * 10000;

// The TDateTime of 1 January 2000: no result of the program is older.
inline constexpr double EarliestPlausibleTimestamp = 36526.0;

// Judges one result record. latestTimestamp is the latest plausible time as a TDateTime (the
// clock of the reading machine plus a day, see LatestPlausibleTimestamp).
TImplausible JudgeResult(const TResultRecord& result, double latestTimestamp);

// Judges one computer record with its device lines (all as stored, scrambled).
TImplausible JudgeComputer(const TComputerRecord& computer,
                           const std::vector<TStringSlot>& devices);

// The local time of this machine plus one day, as a TDateTime: a later record was not measured
// yet, whichever time zone it was measured in.
double LatestPlausibleTimestamp();

// What is wrong, in English words (the command line, the server), and in Russian (the windows).
std::string_view ImplausibleText(TImplausible why);
std::string_view ImplausibleTextRussian(TImplausible why);

// The floor and ceiling triangles of one frame at a detail level: triangles per ms are this
// many times the frame rate / 1000.
double TrianglesPerFrame(std::uint8_t detailLevel);

// A result as a pass would record it whose geometric mean frame time gives the frame rate fps
// (at most 1000 a second; lower than one frame in 24 days counts as that), in the configuration of
// `configuration` (its key fields and refresh rate are kept, everything else is filled): frames of
// whole milliseconds, the nearest below and above the mean, for seven seconds or one frame. For
// tools and tests that need records the intake believes.
TResultRecord SteadyPassResult(const TResultRecord& configuration, double fps, double timestamp);
