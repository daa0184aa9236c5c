// What a change of the results window's selection controls shows and whether it redraws.
#include "results/ResultSelection.h"

#include <gtest/gtest.h>

namespace {

TEST(ResultSelection, ViewSwitchesSkipsAndTheForcedCurrentComputer) {
    constexpr int current = 2;
    const struct {
        const char* Case;
        TChartSelection Controls;
        TChartSelection Shown;
        TSelectionDisplay Expected;
    } cases[] = {
        {"all -> current computer", {1, 0, 0}, {0, 0, 0}, {true, true, false, false, current}},
        {"current -> all, filter kept", {0, 2, 3}, {1, 2, 3}, {true, false, true, false, 2}},
        {"current -> other keeps the computer", {2, 2, 0}, {1, 2, 0}, {true, true, false, true, 2}},
        {"other: another computer", {2, 0, 0}, {2, 2, 0}, {true, true, false, true, 0}},
        {"other: the computer already shown", {2, 2, 0}, {2, 2, 0}, {false, true, false, true, 2}},
        {"all: the filter already shown", {0, 0, 1}, {0, 0, 1}, {false, false, true, false, 0}},
        {"all: another filter", {0, 0, 2}, {0, 0, 1}, {true, false, true, false, 0}},
        {"other -> current", {1, 0, 0}, {2, 0, 0}, {true, true, false, false, current}},
        {"no computer in the list", {1, -1, 0}, {0, 0, 0}, {false, true, false, false, -1}},
    };
    for (const auto& c : cases) {
        const TSelectionDisplay d = ResultSelectionChange(c.Controls, c.Shown, current);
        EXPECT_EQ(d.Redraw, c.Expected.Redraw) << c.Case;
        if (!d.Redraw)
            continue;
        EXPECT_EQ(d.ShowBoxForComputer, c.Expected.ShowBoxForComputer) << c.Case;
        EXPECT_EQ(d.ShowAcceleration, c.Expected.ShowAcceleration) << c.Case;
        EXPECT_EQ(d.ComboEnabled, c.Expected.ComboEnabled) << c.Case;
        EXPECT_EQ(d.ComboIndex, c.Expected.ComboIndex) << c.Case;
    }
}

} // namespace
