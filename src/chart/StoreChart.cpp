#include "chart/StoreChart.h"

#include "state/Variables.h"

#include <algorithm>

namespace {

bool IsStoredComputer(std::int32_t computer) {
    return computer >= 0 && static_cast<std::size_t>(computer) < Computers.size() &&
           static_cast<std::size_t>(computer) < ComputerResults.size();
}

class TStoreChartSource : public TChartSource {
public:
    const TComputerRecord& Computer(std::int32_t computer) const override {
        return Computers[static_cast<std::size_t>(computer)];
    }
    const std::vector<TResultRecord>& Results(std::int32_t computer) const override {
        return ComputerResults[static_cast<std::size_t>(computer)];
    }
    bool ModeUntested(std::int32_t computer, int sizeIndex, int depthIndex) const override {
        return computer == CurrentComputerIndex && ModeAvailable[sizeIndex][depthIndex] != 0;
    }
};

} // namespace

std::shared_ptr<const TChartSource> StoreChartSource() {
    static const auto source = std::make_shared<const TStoreChartSource>();
    return source;
}

std::int32_t FindResult(std::int32_t computer, std::uint16_t width, std::uint16_t height,
                        std::uint16_t depth, std::uint8_t hardwareDevice,
                        std::uint8_t hardwareVertexProcessing, std::uint8_t vertexBufferMode,
                        std::uint8_t textureMode) {
    if (computer < 0 || static_cast<std::size_t>(computer) >= ComputerResults.size())
        return -1;
    return FindResultIn(ComputerResults[static_cast<std::size_t>(computer)], width, height, depth,
                        hardwareDevice, hardwareVertexProcessing, vertexBufferMode, textureMode);
}

std::vector<TChartEntry> ChartEntries(std::int32_t acceleration) {
    std::vector<TChartEntry> entries;
    const auto count =
        static_cast<std::int32_t>(std::min(Computers.size(), ComputerResults.size()));
    for (std::int32_t m = 0; m < count; ++m) {
        const auto& results = ComputerResults[static_cast<std::size_t>(m)];
        const auto rep = RepresentativeResults(results);
        for (int a = 0; a < ChartKindCount; ++a) {
            const std::int32_t r = rep[static_cast<std::size_t>(a)];
            if (r == -1 || !AdmitsKind(acceleration, a))
                continue;
            entries.push_back({static_cast<std::uint8_t>(m == CurrentComputerIndex ? 1 : 0), m, a,
                               r, results[static_cast<std::size_t>(r)].TrianglesPerMs});
        }
    }
    RankChartEntries(entries);
    return entries;
}

std::vector<TChartSection> ChartSections(std::int32_t computer) {
    if (!IsStoredComputer(computer))
        return {};
    return ComputerChartSections(Computers[static_cast<std::size_t>(computer)],
                                 ComputerResults[static_cast<std::size_t>(computer)]);
}

TChartLayout MakeChartLayout(const TChartSelection& selection) {
    TChartLayout layout;
    layout.Selection = selection;
    layout.Source = StoreChartSource();
    if (selection.ComputerView == 0) {
        layout.Entries = ChartEntries(selection.Acceleration);
        layout.Max = ChartMax(layout.Entries);
    } else if (IsStoredComputer(selection.ComputerIndex)) {
        layout.Computer = selection.ComputerIndex;
        layout.Sections = ChartSections(selection.ComputerIndex);
    }
    layout.Height = ChartHeight(layout);
    return layout;
}
