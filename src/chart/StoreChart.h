// The chart of the program's own results store for a selection of the results window: the
// ranked entries of the all-computers view or the sections of one computer's table, and the
// picture's height. Draws nothing (chart/ChartPainter.h draws), so that the window and the
// command line share it.
#pragma once

#include "chart/ChartModel.h"

#include <cstdint>
#include <memory>
#include <vector>

// The stored computers and their results as the chart's source; a mode is still to be tested
// on the current computer when the display accepts it.
std::shared_ptr<const TChartSource> StoreChartSource();

// The first result of the stored computer in that mode and kind with those memory pools and
// detail level 4, scanning from index 0; -1 when there is none or no such computer.
std::int32_t FindResult(std::int32_t computer, std::uint16_t width, std::uint16_t height,
                        std::uint16_t depth, std::uint8_t hardwareDevice,
                        std::uint8_t hardwareVertexProcessing, std::uint8_t vertexBufferMode,
                        std::uint8_t textureMode);

// The entries of the all-computers view for that acceleration filter, ranked: per computer
// and admitted kind the first result in the preference order of modes.
std::vector<TChartEntry> ChartEntries(std::int32_t acceleration);

// The tables of the one-computer view of a stored computer, from its capabilities.
std::vector<TChartSection> ChartSections(std::int32_t computer);

// Everything the picture of the selection needs, including its height.
TChartLayout MakeChartLayout(const TChartSelection& selection);
