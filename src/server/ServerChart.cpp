#include "server/ServerChart.h"

#include "chart/ChartPicture.h"

#include <QBuffer>
#include <QLocale>
#include <mutex>

namespace {

// The records of the rows a chart shows, numbered as its entries name them.
class TRowsChartSource : public TChartSource {
public:
    void Add(const TComputerRecord& computer, std::vector<TResultRecord> results) {
        computers_.push_back(computer);
        results_.push_back(std::move(results));
    }
    const TComputerRecord& Computer(std::int32_t computer) const override {
        return computers_[static_cast<std::size_t>(computer)];
    }
    const std::vector<TResultRecord>& Results(std::int32_t computer) const override {
        return results_[static_cast<std::size_t>(computer)];
    }
    bool ModeUntested(std::int32_t, int, int) const override { return false; }

private:
    std::vector<TComputerRecord> computers_;
    std::vector<std::vector<TResultRecord>> results_;
};

} // namespace

QString ServerDecimalPoint() {
    return QLocale(QLocale::Russian).decimalPoint();
}

TChartLayout RankingChartLayout(const TRankingPage& page, std::int32_t acceleration) {
    auto source = std::make_shared<TRowsChartSource>();
    TChartLayout layout;
    layout.Selection = {0, 0, acceleration};
    for (std::size_t i = 0; i < page.Rows.size(); ++i) {
        const TRankingRow& row = page.Rows[i];
        source->Add(row.Computer, {row.Result});
        layout.Entries.push_back(
            {0, static_cast<std::int32_t>(i), row.Kind, 0, row.Result.TrianglesPerMs});
    }
    layout.Max = page.Max;
    layout.Source = std::move(source);
    layout.Height = ChartHeight(layout);
    return layout;
}

TChartLayout ComputerChartLayout(const TStoredComputer& computer) {
    auto source = std::make_shared<TRowsChartSource>();
    source->Add(computer.Computer, computer.Results);
    TChartLayout layout;
    layout.Selection = {2, 0, 0};
    layout.Computer = 0;
    layout.Sections = ComputerChartSections(computer.Computer, computer.Results);
    layout.Source = std::move(source);
    layout.Height = ChartHeight(layout);
    return layout;
}

QByteArray ChartPng(const TChartLayout& layout) {
    // Font rasterisation is shared by the painters of all threads; one picture at a time.
    static std::mutex painting;
    std::lock_guard lock(painting);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!WriteChartPng(layout, buffer, ServerDecimalPoint()))
        return {};
    return png;
}
