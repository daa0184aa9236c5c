#include "mainwin/ModeSelection.h"
#include "state/StoreReset.h"

#include <gtest/gtest.h>

namespace {

TEST(ModeSelection, TheModeTestAsksForEveryModeInModeOrder) {
    StartState state;
    std::vector<std::string> asked;
    TestDisplayModes([&](int w, int h, int d) {
        asked.push_back(std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(d));
        return !(w == 800 && d == 16);
    });
    EXPECT_EQ(asked,
              (std::vector<std::string>{"640x480x16", "640x480x32", "800x600x16", "800x600x32",
                                        "1024x768x16", "1024x768x32", "1280x1024x16",
                                        "1280x1024x32", "1600x1200x16", "1600x1200x32"}));
    EXPECT_EQ(ModeAvailable[1][0], 0);
    EXPECT_EQ(ModeAvailable[1][1], 1);
    EXPECT_EQ(ModeAvailable[4][1], 1);
}

TEST(ModeSelection, CaptionsOfTheAvailableModesInModeOrder) {
    std::uint8_t all[ModeSizeCount][ModeDepthCount];
    std::memset(all, 1, sizeof all);
    const auto allCaptions = ModeCaptions(all);
    ASSERT_EQ(allCaptions.size(), 10u);
    EXPECT_EQ(allCaptions[0], "640 x 480 pixels, 16 bits");
    EXPECT_EQ(allCaptions[5], "1024 x 768 pixels, 32 bits");
    EXPECT_EQ(allCaptions[9], "1600 x 1200 pixels, 32 bits");

    // Only 800 x 600 x 16 rejected: the boxes after it move up by one.
    all[1][0] = 0;
    const auto captions = ModeCaptions(all);
    ASSERT_EQ(captions.size(), 9u);
    EXPECT_EQ(captions[1], "640 x 480 pixels, 32 bits");
    EXPECT_EQ(captions[2], "800 x 600 pixels, 32 bits");
    EXPECT_EQ(captions[3], "1024 x 768 pixels, 16 bits");
    EXPECT_EQ(captions[8], "1600 x 1200 pixels, 32 bits");

    std::uint8_t none[ModeSizeCount][ModeDepthCount] = {};
    EXPECT_TRUE(ModeCaptions(none).empty());
}

TEST(ModeSelection, AccelerationItemsForEveryAdapter) {
    TComputerRecord halWithTnl{};
    halWithTnl.HalCaps.DeviceType = D3DDEVTYPE_HAL;
    halWithTnl.HalCaps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | 0x10;
    TComputerRecord halOnly{};
    halOnly.HalCaps.DeviceType = D3DDEVTYPE_HAL;
    halOnly.HalCaps.DevCaps = 0xFFFFFFFFu & ~D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    TComputerRecord noHal{};
    noHal.RefCaps.DeviceType = D3DDEVTYPE_REF;
    noHal.RefCaps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT; // the REF device's caps count not

    using Items = std::vector<std::string>;
    const struct {
        const char* name;
        const TComputerRecord& computer;
        bool missing;
        Items items;
    } cases[] = {
        {"HAL with T&L", halWithTnl, false,
         Items{"Аппаратное и программное", "Аппаратное", "Программное"}},
        {"HAL without T&L", halOnly, false, Items{"Программное"}},
        {"no HAL", noHal, false, Items{"Программная эмуляция"}},
        {"runtime missing", halWithTnl, true, Items{}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AccelerationItems(c.computer, c.missing), c.items) << c.name;
}

TEST(ModeSelection, ScopeChangeForEveryListContent) {
    const struct {
        int scope, count, index;
        std::optional<int> enabled, selected, checked; // empty: nothing happens
    } cases[] = {
        // Full testing: controls off, item 0 where there are several, every box ticked.
        {0, 3, 1, 0, 0, 1},
        {0, 3, 2, 0, 0, 1},
        {0, 1, 0, 0, 0, 1},
        {0, 0, -1, 0, -1, 1}, // runtime missing: nothing to select
        // Selective testing: controls on, item 1 with three items, every box cleared.
        {1, 3, 0, 1, 1, 0},
        {1, 3, 2, 1, 1, 0},
        {1, 1, 0, 1, 0, 0},
        {1, 0, -1, 1, -1, 0},
        {-1, 3, 1, {}, {}, {}},
    };
    for (const auto& c : cases) {
        const auto change = ScopeChange(c.scope, c.count, c.index);
        ASSERT_EQ(change.has_value(), c.enabled.has_value()) << c.scope;
        if (!change)
            continue;
        EXPECT_EQ(change->ControlsEnabled, *c.enabled == 1) << c.scope << " " << c.count;
        EXPECT_EQ(change->AccelerationIndex, *c.selected) << c.scope << " " << c.count;
        EXPECT_EQ(change->ModesChecked, *c.checked == 1) << c.scope << " " << c.count;
    }
}

} // namespace
