#include "platform/DisplayModeTest.h"
#include "platform/Priority.h"
#include "platform/TimeStampCounter.h"
#include "platform/TimeZone.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(DisplayModeTest, AModeFitsTheScreenAtSixteenOrThirtyTwoBits) {
    const struct {
        int screenW, screenH, w, h, depth;
        bool accepted;
    } cases[] = {
        {1600, 1200, 1600, 1200, 32, true},  {1600, 1200, 640, 480, 16, true},
        {1600, 1200, 640, 480, 24, false},   {1600, 1200, 640, 480, 8, false},
        {1280, 1024, 1600, 1200, 16, false}, {1920, 1080, 1280, 1024, 32, true},
        {1920, 1080, 1600, 1200, 32, false}, {0, 0, 640, 480, 16, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayModeAccepted(c.screenW, c.screenH, c.w, c.h, c.depth), c.accepted)
            << c.screenW << "x" << c.screenH << " " << c.w << "x" << c.h << "x" << c.depth;
}

TEST(TimeStampCounter, CountsForwardInSixtyFourBits) {
    const std::uint64_t first = ReadTimeStampCounter();
    volatile int sink = 0;
    for (int i = 0; i < 100000; ++i)
        sink = sink ^ i;
    const std::uint64_t second = ReadTimeStampCounter();
    EXPECT_GT(second, first);
}

TEST(Priority, RaisedAndRestored) {
    const TPriorities before = GetPriorities();
    SetRealtimePriority(); // may be refused; either way restoring gives the old priorities
    SetPriorities(before);
    const TPriorities after = GetPriorities();
    EXPECT_EQ(after.ThreadPolicy, before.ThreadPolicy);
    EXPECT_EQ(after.ThreadRtLevel, before.ThreadRtLevel);
    EXPECT_EQ(after.ThreadNice, before.ThreadNice);
}

TEST(TimeZone, ZoneNamesFromTzValuesAndLinks) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"/usr/share/zoneinfo/Europe/Moscow", "Europe/Moscow"},
        {"../usr/share/zoneinfo/Asia/Kolkata", "Asia/Kolkata"},
        {":Europe/Berlin", "Europe/Berlin"},
        {"Etc/UTC", "Etc/UTC"},
        {"MSK-3", ""},
        {"/etc/some/file", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZoneNameFromPath(c.path), c.name) << c.path;
}

TEST(TimeZone, BiasAndNameFollowTz) {
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    const struct {
        const char* tz;
        std::int32_t bias;
        const char* name;
    } cases[] = {
        {"Asia/Kolkata", -330, "Asia/Kolkata"},
        {"America/New_York", 300, "America/New_York"}, // standard time, whatever the date
        {"UTC", 0, "UTC"},
        // A POSIX rule names its zone itself: name and bias both come from it.
        {"MSK-3", -180, "MSK"},
        {"EST5EDT", 300, "EST"},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.tz, 1);
        const TTimeZoneInformation info = GetTimeZoneInformation();
        EXPECT_EQ(info.Bias, c.bias) << c.tz;
        EXPECT_EQ(info.StandardName, c.name) << c.tz;
    }
    if (old != nullptr)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
