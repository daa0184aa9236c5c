// What the chart shows for a selection: representatives, ranking, filters, tables and heights.
#include "ChartFixture.h"

#include "chart/StoreChart.h"

#include <cmath>
#include <limits>
#include <random>

namespace {

using ChartLayoutTest = ChartStoreTest;

struct EntryKey {
    int Computer;
    int Kind;
    float Value;
    bool operator==(const EntryKey& o) const {
        return Computer == o.Computer && Kind == o.Kind &&
               (Value == o.Value || (std::isnan(Value) && std::isnan(o.Value)));
    }
};

std::ostream& operator<<(std::ostream& out, const EntryKey& e) {
    return out << "{" << e.Computer << ", " << e.Kind << ", " << e.Value << "}";
}

std::vector<EntryKey> Keys(const std::vector<TChartEntry>& entries) {
    std::vector<EntryKey> keys;
    for (const auto& e : entries)
        keys.push_back({e.Computer, e.Kind, e.Value});
    return keys;
}

TEST_F(ChartLayoutTest, FindResultTakesTheFirstTestRecordOfTheStandardConfiguration) {
    auto presentation = MakeResult(800, 600, 32, 0, 1, 1);
    auto otherPools = MakeResult(800, 600, 32, 0, 2);
    otherPools.VertexBufferMode = 1;
    Add(MakeComputer("P", "A"), {presentation, otherPools, MakeResult(800, 600, 32, 1, 3),
                                 MakeResult(800, 600, 32, 0, 4), MakeResult(800, 600, 32, 0, 5)});
    EXPECT_EQ(FindResult(0, 800, 600, 32, 1, 1, 2, 2), 3);
    EXPECT_EQ(FindResult(0, 800, 600, 32, 1, 0, 2, 2), 2);
    EXPECT_EQ(FindResult(0, 800, 600, 16, 1, 1, 2, 2), -1);
    EXPECT_EQ(FindResult(0, 800, 600, 32, 1, 1, 1, 2), 1);
    EXPECT_EQ(FindResult(1, 800, 600, 32, 1, 1, 2, 2), -1);
    EXPECT_EQ(FindResult(-1, 800, 600, 32, 1, 1, 2, 2), -1);
}

TEST_F(ChartLayoutTest, AComputerIsRepresentedByItsFirstModeInPreferenceOrder) {
    // 1024 x 768 at 16 bits comes before 1280 x 1024 at 32 bits, whatever their values.
    Add(MakeComputer("P", "A"),
        {MakeResult(1280, 1024, 32, 0, 900), MakeResult(1024, 768, 16, 0, 100)});
    // 640 x 480 comes before 1600 x 1200, 32 bits before 16 bits.
    Add(MakeComputer("Q", "B"),
        {MakeResult(1600, 1200, 32, 1, 700), MakeResult(640, 480, 16, 1, 200),
         MakeResult(640, 480, 32, 1, 50)});
    const auto entries = ChartEntries(0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Keys(entries), (std::vector<EntryKey>{{0, 0, 100}, {1, 1, 50}}));
    EXPECT_EQ(entries[0].Result, 1);
    EXPECT_EQ(entries[1].Result, 2);
}

TEST_F(ChartLayoutTest, EqualValuesKeepComputerOrderAndKindOrder) {
    CurrentComputerIndex = 1;
    for (int c = 0; c < 2; ++c)
        Add(MakeComputer("P" + std::to_string(c), "A"),
            {MakeResult(800, 600, 32, 2, 5), MakeResult(800, 600, 32, 1, 5),
             MakeResult(800, 600, 32, 0, 5), MakeResult(640, 480, 16, 0, 9)});
    Add(MakeComputer("P2", "A"), {MakeResult(800, 600, 32, 1, 6)});
    const auto entries = ChartEntries(0);
    EXPECT_EQ(Keys(entries),
              (std::vector<EntryKey>{
                  {2, 1, 6}, {0, 0, 5}, {0, 1, 5}, {0, 2, 5}, {1, 0, 5}, {1, 1, 5}, {1, 2, 5}}));
    for (const auto& e : entries)
        EXPECT_EQ(e.IsCurrent, e.Computer == 1 ? 1 : 0);
}

TEST_F(ChartLayoutTest, TheAccelerationFilterAdmitsOneKindOrAll) {
    Add(MakeComputer("P", "A"), {MakeResult(800, 600, 32, 0, 3), MakeResult(800, 600, 32, 1, 2)});
    Add(MakeComputer("Q", "B", false), {MakeResult(800, 600, 32, 2, 1)});
    Add(MakeComputer("R", "C"), {MakeResult(1024, 768, 32, 0, 4, 1)}); // presentation only
    const struct {
        int Filter;
        std::vector<EntryKey> Expected;
    } cases[] = {
        {0, {{0, 0, 3}, {0, 1, 2}, {1, 2, 1}}},
        {1, {{0, 0, 3}}},
        {2, {{0, 1, 2}}},
        {3, {{1, 2, 1}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Keys(ChartEntries(c.Filter)), c.Expected) << "filter " << c.Filter;
}

TEST_F(ChartLayoutTest, HeightsFollowTheContent) {
    EXPECT_EQ(MakeChartLayout({0, 0, 0}).Height, 56); // nothing stored at all
    Add(MakeComputer("P", "A"), {MakeResult(1024, 768, 32, 0, 4, 1)});
    Add(MakeComputer("Q", "B", true, false), {MakeResult(800, 600, 32, 1, 2)});
    Add(MakeComputer("R", "C", false), {});
    const struct {
        TChartSelection Selection;
        int Height;
    } cases[] = {
        {{0, 0, 0}, 42 + 70 + 14}, {{0, 0, 1}, 56}, {{1, 0, 0}, 378}, {{2, 1, 3}, 238},
        {{2, 2, 0}, 238},          {{2, 3, 0}, 56}, {{2, -1, 0}, 56},
    };
    for (const auto& c : cases) {
        const TChartLayout layout = MakeChartLayout(c.Selection);
        EXPECT_EQ(layout.Height, c.Height)
            << c.Selection.ComputerView << " " << c.Selection.ComputerIndex;
        EXPECT_EQ(ChartHeight(layout), layout.Height);
    }
}

TEST_F(ChartLayoutTest, SectionsFollowTheComputersCapabilities) {
    Add(MakeComputer("P", "A", true, true));
    Add(MakeComputer("Q", "B", true, false));
    Add(MakeComputer("R", "C", false));
    auto strange = MakeComputer("S", "D");
    strange.HalCaps.DeviceType = static_cast<D3DDEVTYPE>(0xFFFFFFFFu);
    Add(strange);
    const std::vector<std::vector<int>> expected = {{0, 1}, {1}, {2}, {0, 1}};
    for (int m = 0; m < 4; ++m) {
        std::vector<int> kinds;
        for (const auto& s : ChartSections(m))
            kinds.push_back(s.Kind);
        EXPECT_EQ(kinds, expected[static_cast<std::size_t>(m)]) << "computer " << m;
    }
    EXPECT_TRUE(ChartSections(4).empty());
}

TEST_F(ChartLayoutTest, TheReferenceIsTheGreatestFiniteValueOfTheKind) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Hardware: a NaN at the first mode, then 30 and 80; software: only values not above 0.
    Add(MakeComputer("P", "A"),
        {MakeResult(640, 480, 16, 0, nan), MakeResult(800, 600, 16, 0, 30),
         MakeResult(1600, 1200, 32, 0, 80), MakeResult(1280, 1024, 16, 0, inf),
         MakeResult(640, 480, 16, 1, 0), MakeResult(800, 600, 32, 1, -4)});
    const auto sections = ChartSections(0);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_TRUE(sections[0].HasReference);
    EXPECT_EQ(sections[0].Reference, 80);
    EXPECT_FALSE(sections[1].HasReference);
}

// The ranking rule as written: passes of adjacent exchanges until one pass exchanges nothing.
void AdjacentExchangeRanking(std::vector<TChartEntry>& entries) {
    bool exchanged = true;
    while (exchanged) {
        exchanged = false;
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (!(entries[i - 1].Value >= entries[i].Value)) {
                std::swap(entries[i - 1], entries[i]);
                exchanged = true;
            }
    }
}

TEST(ChartRanking, GivesTheOrderOfAdjacentExchangesForEveryValueThatIsANumber) {
    std::mt19937 random(7);
    const float special[] = {std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             0.0f,
                             -0.0f,
                             -3.0f,
                             std::numeric_limits<float>::denorm_min(),
                             3.4e38f};
    for (int round = 0; round < 200; ++round) {
        std::vector<TChartEntry> entries;
        const int n = static_cast<int>(random() % 60);
        for (int i = 0; i < n; ++i) {
            // Few distinct values, so that ties are common.
            const float value =
                random() % 5 == 0 ? special[random() % 7] : static_cast<float>(random() % 8) * 0.5f;
            entries.push_back({0, i, static_cast<int>(random() % 3), i, value});
        }
        auto expected = entries;
        AdjacentExchangeRanking(expected);
        RankChartEntries(entries);
        ASSERT_EQ(Keys(entries), Keys(expected)) << "round " << round;
    }
}

TEST(ChartRanking, NotANumberRanksLastInItsOwnOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<TChartEntry> entries = {
        {0, 0, 0, 0, nan}, {0, 1, 0, 0, 2}, {0, 2, 0, 0, nan}, {0, 3, 0, 0, -1}, {0, 4, 0, 0, 5}};
    RankChartEntries(entries);
    EXPECT_EQ(Keys(entries),
              (std::vector<EntryKey>{{4, 0, 5}, {1, 0, 2}, {3, 0, -1}, {0, 0, nan}, {2, 0, nan}}));
}

TEST_F(ChartLayoutTest, TheMaximumCountsOnlyFiniteValues) {
    const float inf = std::numeric_limits<float>::infinity();
    Add(MakeComputer("P", "A"), {MakeResult(800, 600, 32, 0, inf), MakeResult(800, 600, 32, 1, 7)});
    EXPECT_EQ(MakeChartLayout({0, 0, 0}).Max, 7);
    EXPECT_EQ(MakeChartLayout({0, 0, 1}).Max, 0);
}

} // namespace
