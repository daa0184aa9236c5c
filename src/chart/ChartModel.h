// What the results chart shows, apart from where the computers come from: the ranked entries of
// the all-computers view, the tables of the one-computer view and the picture's height. The
// rules here work on one computer's records at a time, so that the results window (the whole
// store in memory) and the results server (a database) rank and draw alike.
#pragma once

#include "state/Variables.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

inline constexpr int ChartWidth = 600;

// The three choices of the results window, as item indices of its controls.
struct TChartSelection {
    std::int32_t ComputerView = 0;  // 0 all computers, 1 the current computer, 2 another one
    std::int32_t ComputerIndex = 0; // the computer of the one-computer views
    std::int32_t Acceleration = 0;  // 0 any kind, 1 hardware, 2 software, 3 software emulation
    bool operator==(const TChartSelection&) const = default;
};

// Kinds of acceleration: 0 hardware, 1 software, 2 software emulation.
inline constexpr int ChartKindCount = 3;
struct TChartKind {
    std::uint8_t HardwareDevice;
    std::uint8_t HardwareVertexProcessing;
    const char* Heading; // UTF-8
};
inline constexpr TChartKind ChartKinds[ChartKindCount] = {
    {1, 1, "Аппаратное ускорение"},
    {1, 0, "Программное ускорение"},
    {0, 0, "Программная эмуляция"},
};

// Whether the acceleration filter (0 any, otherwise kind + 1) admits the kind.
bool AdmitsKind(std::int32_t acceleration, int kind);

// One bar of the all-computers view. The texts are taken from the layout's source when drawn.
struct TChartEntry {
    std::uint8_t IsCurrent;
    std::int32_t Computer; // of the layout's source
    std::int32_t Kind;
    std::int32_t Result; // index into the source's results of the computer
    float Value;         // its TrianglesPerMs
};

// One table of the one-computer view.
struct TChartSection {
    std::int32_t Kind;
    // The greatest finite value of the kind, the 100 % of its bars; bars are drawn only when it
    // is finite and above 0.
    bool HasReference;
    float Reference;
};

// Where the painter takes the records it writes about: the computers of a layout by the
// numbers its entries name.
class TChartSource {
public:
    virtual ~TChartSource() = default;
    virtual const TComputerRecord& Computer(std::int32_t computer) const = 0;
    virtual const std::vector<TResultRecord>& Results(std::int32_t computer) const = 0;
    // A mode without a result is marked "?" when it is still to be tested on this computer,
    // "-" when not.
    virtual bool ModeUntested(std::int32_t computer, int sizeIndex, int depthIndex) const = 0;
};

struct TChartLayout {
    TChartSelection Selection;
    // All-computers view.
    std::vector<TChartEntry> Entries;
    float Max = 0; // greatest finite value of the entries, 0 when none is above 0
    // One-computer view; Computer is -1 when the selection names no stored computer.
    std::int32_t Computer = -1;
    std::vector<TChartSection> Sections;
    std::int32_t Height = 0;
    std::shared_ptr<const TChartSource> Source;
};

// The first result in results of that mode and kind with those memory pools and detail level
// 4, scanning from index 0; -1 when there is none.
std::int32_t FindResultIn(const std::vector<TResultRecord>& results, std::uint16_t width,
                          std::uint16_t height, std::uint16_t depth, std::uint8_t hardwareDevice,
                          std::uint8_t hardwareVertexProcessing, std::uint8_t vertexBufferMode,
                          std::uint8_t textureMode);
// The standard configuration's result of the mode (indices into ModeSizes and ModeDepths) and
// kind; -1 when there is none.
std::int32_t FindKindResult(const std::vector<TResultRecord>& results, int sizeIndex,
                            int depthIndex, int kind);

// The results that represent a computer in the ranking, one per kind (-1: none): for each kind
// the first result in the preference order of modes.
std::array<std::int32_t, ChartKindCount>
RepresentativeResults(const std::vector<TResultRecord>& results);

// Ranks largest first, keeping the order of equal values; NaN last. Stable, O(n log n): the
// order of repeated adjacent exchanges "swap while the left is not >= the right" for every
// finite or infinite value, which with a NaN beside another entry would never end.
void RankChartEntries(std::vector<TChartEntry>& entries);

// The greatest finite value of the entries; 0 when none is above 0.
float ChartMax(const std::vector<TChartEntry>& entries);

// The tables of the one-computer view of a computer, from its capabilities.
std::vector<TChartSection> ComputerChartSections(const TComputerRecord& computer,
                                                 const std::vector<TResultRecord>& results);

// The picture's height in pixels: 42 + 70 per entry + 14, or 84 + 140 per section + 14.
std::int32_t ChartHeight(const TChartLayout& layout);
