// What the results chart shows for a selection: the ranked entries of the all-computers view or
// the sections of one computer's table, and the picture's height. Reads the results store;
// draws nothing (ChartPainter.h draws), so that the window and the command line share it.
#pragma once

#include <cstdint>
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

// One bar of the all-computers view. The texts are taken from the store when drawn.
struct TChartEntry {
    std::uint8_t IsCurrent;
    std::int32_t Computer;
    std::int32_t Kind;
    std::int32_t Result; // index into ComputerResults[Computer]
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

struct TChartLayout {
    TChartSelection Selection;
    // All-computers view.
    std::vector<TChartEntry> Entries;
    float Max = 0; // greatest finite value of the entries, 0 when none is above 0
    // One-computer view; Computer is -1 when the selection names no stored computer.
    std::int32_t Computer = -1;
    std::vector<TChartSection> Sections;
    std::int32_t Height = 0;
};

// The first result of the computer in that mode and kind with those memory pools and detail
// level 4, scanning from index 0; -1 when there is none or no such computer.
std::int32_t FindResult(std::int32_t computer, std::uint16_t width, std::uint16_t height,
                        std::uint16_t depth, std::uint8_t hardwareDevice,
                        std::uint8_t hardwareVertexProcessing, std::uint8_t vertexBufferMode,
                        std::uint8_t textureMode);

// Ranks largest first, keeping the order of equal values; NaN last. Stable, O(n log n): the
// order of repeated adjacent exchanges "swap while the left is not >= the right" for every
// finite or infinite value, which with a NaN beside another entry would never end.
void RankChartEntries(std::vector<TChartEntry>& entries);

// The entries of the all-computers view for that acceleration filter, ranked: per computer
// and admitted kind the first result in the preference order of modes.
std::vector<TChartEntry> ChartEntries(std::int32_t acceleration);

// The tables of the one-computer view of a stored computer, from its capabilities.
std::vector<TChartSection> ChartSections(std::int32_t computer);

// Everything the picture of the selection needs, including its height.
TChartLayout MakeChartLayout(const TChartSelection& selection);

// The picture's height in pixels: 42 + 70 per entry + 14, or 84 + 140 per section + 14.
std::int32_t ChartHeight(const TChartLayout& layout);
