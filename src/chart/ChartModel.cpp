#include "chart/ChartModel.h"

#include <algorithm>
#include <cmath>

namespace {

// The mode that represents a computer in the ranking, best first: 1024 x 768, then 800 x 600,
// 640 x 480, 1280 x 1024, 1600 x 1200, each at 32 bits before 16.
struct TModeIndex {
    int Size;
    int Depth;
};
constexpr TModeIndex PreferredMode(int step) {
    return {step <= 5 ? 2 - step / 2 : step / 2, 1 - step % 2};
}

} // namespace

bool AdmitsKind(std::int32_t acceleration, int kind) {
    return acceleration == 0 || acceleration == kind + 1;
}

std::int32_t FindResultIn(const std::vector<TResultRecord>& results, std::uint16_t width,
                          std::uint16_t height, std::uint16_t depth, std::uint8_t hardwareDevice,
                          std::uint8_t hardwareVertexProcessing, std::uint8_t vertexBufferMode,
                          std::uint8_t textureMode) {
    for (std::size_t i = 0; i < results.size(); ++i) {
        const TResultRecord& r = results[i];
        if (r.Width == width && r.Height == height && r.Depth == depth &&
            r.HardwareDevice == hardwareDevice &&
            r.HardwareVertexProcessing == hardwareVertexProcessing &&
            r.VertexBufferMode == vertexBufferMode && r.TextureMode == textureMode &&
            r.DetailLevel == TestDetailLevel)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::int32_t FindKindResult(const std::vector<TResultRecord>& results, int sizeIndex,
                            int depthIndex, int kind) {
    return FindResultIn(results, static_cast<std::uint16_t>(ModeSizes[sizeIndex].Width),
                        static_cast<std::uint16_t>(ModeSizes[sizeIndex].Height),
                        static_cast<std::uint16_t>(ModeDepths[depthIndex]),
                        ChartKinds[kind].HardwareDevice, ChartKinds[kind].HardwareVertexProcessing,
                        ManagedPoolCode, ManagedPoolCode);
}

std::array<std::int32_t, ChartKindCount>
RepresentativeResults(const std::vector<TResultRecord>& results) {
    std::array<std::int32_t, ChartKindCount> rep = {-1, -1, -1};
    for (int step = 0; step < 10; ++step) {
        const TModeIndex mode = PreferredMode(step);
        for (int a = 0; a < ChartKindCount; ++a)
            if (rep[static_cast<std::size_t>(a)] == -1)
                rep[static_cast<std::size_t>(a)] =
                    FindKindResult(results, mode.Size, mode.Depth, a);
    }
    return rep;
}

void RankChartEntries(std::vector<TChartEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TChartEntry& a, const TChartEntry& b) {
                         if (std::isnan(a.Value))
                             return false;
                         return std::isnan(b.Value) || a.Value > b.Value;
                     });
}

float ChartMax(const std::vector<TChartEntry>& entries) {
    float max = 0;
    for (const TChartEntry& entry : entries)
        if (std::isfinite(entry.Value) && entry.Value > max)
            max = entry.Value;
    return max;
}

std::vector<TChartSection> ComputerChartSections(const TComputerRecord& computer,
                                                 const std::vector<TResultRecord>& results) {
    // The reference of a kind is its greatest value over the ten modes, the first one of equal
    // values. Values that are not finite are passed over, so that one damaged record neither
    // blocks the reference nor turns every other bar of the table into nothing.
    TChartSection byKind[ChartKindCount];
    for (int a = 0; a < ChartKindCount; ++a) {
        byKind[a] = {a, false, 0};
        for (int step = 0; step < 10; ++step) {
            const std::int32_t r = FindKindResult(results, step / 2, step % 2, a);
            if (r == -1)
                continue;
            const float value = results[static_cast<std::size_t>(r)].TrianglesPerMs;
            if (std::isfinite(value) && (!byKind[a].HasReference || value > byKind[a].Reference))
                byKind[a] = {a, true, value};
        }
        if (byKind[a].HasReference && !(byKind[a].Reference > 0))
            byKind[a].HasReference = false;
    }

    const D3DCAPS8& hal = computer.HalCaps;
    if (hal.DeviceType == 0)
        return {byKind[2]};
    if ((hal.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) == 0)
        return {byKind[1]};
    // A HAL block gives hardware, then software acceleration. A stranger's file may carry any
    // device type; more sections would only repeat the software table (and a huge type
    // would never finish), so there are never more than these two.
    return {byKind[0], byKind[1]};
}

std::int32_t ChartHeight(const TChartLayout& layout) {
    if (layout.Selection.ComputerView == 0)
        return 42 + 70 * static_cast<std::int32_t>(layout.Entries.size()) + 14;
    if (layout.Computer < 0)
        return 56; // the heading alone
    return 42 + 42 + 140 * static_cast<std::int32_t>(layout.Sections.size()) + 14;
}
