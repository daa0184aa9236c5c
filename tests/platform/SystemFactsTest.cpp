#include "platform/Clock.h"
#include "platform/MemoryStatus.h"

#include <gtest/gtest.h>
#include <sys/sysinfo.h>

TEST(Clock, SleepAdvancesTheTickCountByAboutItsLength) {
    const std::uint32_t before = GetTickCount();
    Sleep(120);
    const std::uint32_t elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 119u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(MemoryStatus, ReportsThisMachinesMemory) {
    struct sysinfo info {};
    ASSERT_EQ(sysinfo(&info), 0);
    const std::uint64_t total = static_cast<std::uint64_t>(info.totalram) * info.mem_unit;

    const TMemoryStatus status = GlobalMemoryStatus();
    // /proc/meminfo and sysinfo count the same pages, in kB and bytes respectively.
    EXPECT_NEAR(static_cast<double>(status.TotalPhys), static_cast<double>(total), 1024.0);
    EXPECT_GT(status.AvailPhys, 0u);
    EXPECT_LE(status.AvailPhys, status.TotalPhys);
}

TEST(MemoryStatus, SixtyFourBitCountsSaturateInThirtyTwoBitFields) {
    const struct {
        std::uint64_t value;
        std::uint32_t stored;
    } cases[] = {
        {0, 0},
        {4294967295ull, 4294967295u},
        {4294967296ull, 4294967295u},
        {24ull << 30, 4294967295u},
        {123456789, 123456789},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SaturateToUInt32(c.value), c.stored) << c.value;
}
