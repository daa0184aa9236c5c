#include "series/Identification.h"
#include "platform/Cp1251.h"
#include "platform/MemoryStatus.h"
#include "state/StoreReset.h"

#include <gtest/gtest.h>

namespace {

std::string Shown(const TStringSlot& field) {
    return Cp1251ToUtf8(ShownText(field));
}

TEST(ClockEstimate, SnapsToTheUsualStepsAndVotes) {
    const struct {
        std::array<std::int32_t, 3> estimates;
        std::array<std::int32_t, 3> snapped;
        std::int32_t result;
    } cases[] = {
        {{1003, 998, 1010}, {1000, 1000, 1010}, 1000},
        {{1466, 1533, 2397}, {1466, 1533, 2400}, 1466},
        {{1010, 1020, 1015}, {1010, 1020, 1015}, 1010},
        {{730, 866, 866}, {733, 866, 866}, 866},        // second and third agree
        {{2000, 1950, 2000}, {2000, 1950, 2000}, 2000}, // first and third agree
        {{1146, 1154, 1138}, {1150, 1150, 1133}, 1150},
        {{96, 3, 5}, {100, 0, 5}, 0}, // below a hundred; the next hundred from 96
        {{1504, 1505, 1545}, {1500, 1505, 1545}, 1500},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(SnapCpuMhz(c.estimates[i]), c.snapped[i]) << c.estimates[i];
        EXPECT_EQ(VoteCpuMhz(c.estimates), c.result) << c.estimates[0];
    }
}

TEST(ClockEstimate, MeasuresThreeTimes) {
    int calls = 0;
    const std::int32_t values[] = {1998, 2003, 2397};
    EXPECT_EQ(EstimateCpuMhz([&] { return values[calls++]; }), 2000);
    EXPECT_EQ(calls, 3);
}

TEST(ClockEstimate, MeasuresThisProcessorOverOneSecond) {
    // Whatever the processor, a time-stamp counter ticks at tens of MHz at least; a 32-bit
    // difference would wrap above 4295 MHz, which the full difference never does.
    const std::int32_t mhz = MeasureCpuMhz();
    EXPECT_GT(mhz, 10);
    EXPECT_LT(mhz, 20000);
}

TEST(ProcessorName, LeadingControlCharactersAndSpacesGo) {
    const struct {
        std::string name;
        std::string trimmed;
    } cases[] = {
        {"        Intel(R) Pentium(R) 4 CPU", "Intel(R) Pentium(R) 4 CPU"},
        {std::string("\t\x01\x1f  AMD", 8), "AMD"},
        {"AMD Athlon  ", "AMD Athlon  "},
        {"      ", ""},
        {std::string(300, 'x'), std::string(255, 'x')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrimProcessorName(c.name), c.trimmed) << c.name;
    EXPECT_EQ(ProcessorWithClock("Intel(R) Pentium(R) 4 CPU", 2400),
              "Intel(R) Pentium(R) 4 CPU (~2400MHz)");
    EXPECT_EQ(ProcessorWithClock(std::string(250, 'x'), 2400).size(), 255u);
}

TEST(TimeZone, HoursAreFormattedWithAtMostTwoDecimals) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const struct {
        std::int32_t bias;
        const char* english;
        const char* russian;
    } cases[] = {
        {-180, "3", "3"},       {300, "-5", "-5"},
        {-330, "5.5", "5,5"},   {-210, "3.5", "3,5"},
        {0, "0", "0"},          {-345, "5.75", "5,75"},
        {20, "-0.33", "-0,33"}, {-765, "12.75", "12,75"},
        {1, "-0.02", "-0,02"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimeZoneHours(c.bias, english).toStdString(), c.english) << c.bias;
        EXPECT_EQ(TimeZoneHours(c.bias, russian).toStdString(), c.russian) << c.bias;
    }
    EXPECT_EQ(TimeZoneText("Europe/Moscow", -180, english), "Europe/Moscow (Bias=3)");
}

TEST(Memory, TotalInMegabytesBeyondFourGigabytes) {
    const struct {
        std::uint64_t bytes;
        const char* megabytes;
    } cases[] = {
        {0, "0"},
        {512ull << 20, "512"},
        {(3ull << 20) + (1u << 19), "4"}, // half: to even
        {(2ull << 20) + (1u << 19), "2"},
        {(2ull << 20) + (1u << 19) + 1, "3"},
        {24ull << 30, "24576"}, // a 32-bit field would have stopped at 4095
        {1ull << 42, "4194304"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MemoryMegabytes(c.bytes), c.megabytes) << c.bytes;
}

TEST(Chipset, ClassifiedByTheKeywordLevels) {
    const struct {
        std::vector<std::string> devices; // UTF-8
        std::string chipset;
        int level;
    } cases[] = {
        {{"PCI standard ISA bridge", "PCI standard host CPU bridge",
          "PCI standard PCI-to-PCI bridge"},
         "PCI standard host CPU bridge",
         4},
        {{"Processor to PCI bridge", "PCI to PCI bridge"}, "Processor to PCI bridge", 3},
        {{"PCI to PCI bridge", "Second PCI to PCI bridge"}, "Second PCI to PCI bridge", 2},
        {{"PCI to AGP bridge"}, "n/d", 0},
        {{"PCI bus"}, "n/d", 0},
        {{"System I/O controller", "PCI standard host CPU bridge"},
         "PCI standard host CPU bridge",
         4},
        // Upper-case Cyrillic is lower-cased before the keywords are looked for.
        {{"Мост PCI", "ПРОЦЕССОР к шине PCI"}, "ПРОЦЕССОР к шине PCI", 3},
        {{"PCI МОСТ"}, "PCI МОСТ", 2},
        {{"PCI to PCI bridge with Processor"}, "PCI to PCI bridge with Processor", 1},
        {{}, "n/d", 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> stored;
        for (const std::string& device : c.devices)
            stored.push_back(Utf8ToCp1251(device));
        const TChipsetChoice choice = ClassifyChipset(stored);
        EXPECT_EQ(Cp1251ToUtf8(choice.Description), c.chipset);
        EXPECT_EQ(choice.Level, c.level) << c.chipset;
    }
}

// A computer described by the registry of the NT family.
struct Identification : testing::Test {
    StartState state;

    void SetUp() override {
        auto& r = state.registry;
        r.SetString(HKEY_LOCAL_MACHINE, NtCurrentVersionKey, "ProductName", "Debian GNU/Linux 12");
        r.SetString(HKEY_LOCAL_MACHINE, NtCurrentVersionKey, "RegisteredOwner",
                    Utf8ToCp1251("Иван Петров"));
        r.SetString(HKEY_LOCAL_MACHINE, CentralProcessorKey, "ProcessorNameString",
                    "        Intel(R) Xeon(R) CPU");
        state.AddDevice(SystemDeviceClassKey, 0,
                        "PCI standard host CPU bridge and a very long "
                        "description that a later device replaces");
        state.AddDevice(SystemDeviceClassKey, 1, "Intel Device 1234");
        state.AddDevice(SystemDeviceClassKey, 2, "");
        state.AddDevice(SystemDeviceClassKey, 3, "System I/O");
        state.AddDevice(DisplayDeviceClassKey, 0, "NVIDIA GeForce");
    }
};

TEST_F(Identification, DescribesThisComputerFromTheRegistry) {
    const TDeviceClassKeys keys = IdentifyComputer([] { return 2397; });
    EXPECT_EQ(keys.System, SystemDeviceClassKey);
    EXPECT_EQ(keys.Display, DisplayDeviceClassKey);
    EXPECT_EQ(Shown(CurrentComputer.Processor), "Intel(R) Xeon(R) CPU (~2400MHz)");
    EXPECT_EQ(Shown(CurrentComputer.OSName), "Debian GNU/Linux 12");
    EXPECT_EQ(Shown(CurrentComputer.Owner), "Иван Петров");
    EXPECT_EQ(Shown(CurrentComputer.RecordTag), "1");
    EXPECT_EQ(Shown(CurrentComputer.MemoryMB), MemoryMegabytes(GlobalMemoryStatus().TotalPhys));
    EXPECT_NE(Shown(CurrentComputer.TimeZone).find(" (Bias="), std::string::npos);
    // The later, shorter description of the same level replaces the long one whole: the
    // slot's tail is zero, so the whole-record comparison sees only the text.
    EXPECT_EQ(Shown(CurrentComputer.Chipset), "System I/O");
    const TStringSlot expected = ScrambleText(MakeStringSlot("System I/O"));
    EXPECT_EQ(CurrentComputer.Chipset, expected);
    // No runtime is loaded in this program: Direct3D is missing, the adapter fields stay empty.
    EXPECT_TRUE(Direct3DMissing);
    EXPECT_EQ(CurrentComputer.VideoAdapter, TStringSlot{});
}

TEST_F(Identification, MissingValuesBecomeNotDetermined) {
    StartState empty;
    IdentifyComputer([] { return 1000; });
    EXPECT_EQ(Shown(CurrentComputer.OSName), "n/d");
    EXPECT_EQ(Shown(CurrentComputer.Owner), "n/d");
    EXPECT_EQ(Shown(CurrentComputer.Processor), "n/d (~1000MHz)");
    EXPECT_EQ(Shown(CurrentComputer.Chipset), "n/d");
}

TEST_F(Identification, TheWindows9xFamilyReadsItsOwnKeys) {
    const std::string key9x = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    state.registry.SetString(HKEY_LOCAL_MACHINE, key9x, "ProductName", "Microsoft Windows 98");
    state.registry.SetString(HKEY_LOCAL_MACHINE, key9x, "RegisteredOwner", "Owner 98");
    state.registry.SetString(HKEY_LOCAL_MACHINE, CentralProcessorKey, "Identifier", "x86 Family 6");
    state.AddDevice("\\SYSTEM\\CurrentControlSet\\Services\\Class\\System", 0, "PCI to PCI bridge");
    const TDeviceClassKeys keys = IdentifyComputer([] { return 500; });
    EXPECT_EQ(keys.System, "\\SYSTEM\\CurrentControlSet\\Services\\Class\\System");
    EXPECT_EQ(keys.Display, "\\SYSTEM\\CurrentControlSet\\Services\\Class\\Display");
    EXPECT_EQ(Shown(CurrentComputer.OSName), "Microsoft Windows 98");
    EXPECT_EQ(Shown(CurrentComputer.Owner), "Owner 98");
    EXPECT_EQ(Shown(CurrentComputer.Processor), "x86 Family 6 (~500MHz)");
    EXPECT_EQ(Shown(CurrentComputer.Chipset), "PCI to PCI bridge");
}

TEST_F(Identification, TheLaterOfTwoEqualStoredComputersIsChosen) {
    IdentifyComputer([] { return 2400; });
    TComputerRecord other = CurrentComputer;
    other.Owner = StoredField("someone else");
    Computers = {CurrentComputer, other, CurrentComputer};
    ComputerDevices.resize(3);
    ComputerResults.resize(3);
    FindOrAddComputer();
    EXPECT_EQ(CurrentComputerIndex, 2);
    EXPECT_EQ(Computers.size(), 3u);
}

TEST_F(Identification, AChangedClockMakesANewComputer) {
    IdentifyComputer([] { return 2400; });
    FindOrAddComputer();
    ComputerResults[0].push_back(TResultRecord{});
    IdentifyComputer([] { return 2400; });
    FindOrAddComputer();
    EXPECT_EQ(CurrentComputerIndex, 0);

    IdentifyComputer([] { return 2533; });
    FindOrAddComputer();
    EXPECT_EQ(CurrentComputerIndex, 1);
    ASSERT_EQ(Computers.size(), 2u);
    ASSERT_EQ(ComputerDevices.size(), 2u);
    ASSERT_EQ(ComputerResults.size(), 2u);
    EXPECT_TRUE(ComputerResults[1].empty());
    EXPECT_EQ(Shown(Computers[1].Processor), "Intel(R) Xeon(R) CPU (~2533MHz)");
}

TEST_F(Identification, DeviceListIsRebuiltWithHeadingsAndWithoutUnusableNames) {
    const TDeviceClassKeys keys = IdentifyComputer([] { return 2400; });
    FindOrAddComputer();
    ComputerDevices[0] = {StoredField("old line")};
    RebuildDeviceList(keys);
    std::vector<std::string> lines;
    for (const TStringSlot& line : ComputerDevices[0])
        lines.push_back(Shown(line));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "  chip",
                         "PCI standard host CPU bridge and a very long description that a later "
                         "device replaces",
                         "Intel Device 1234", "System I/O", "  video", "NVIDIA GeForce"}));

    // Class keys that cannot be opened still give both headings.
    RebuildDeviceList({"\\SYSTEM\\missing", "\\SYSTEM\\also missing"});
    ASSERT_EQ(ComputerDevices[0].size(), 2u);
    EXPECT_EQ(Shown(ComputerDevices[0][0]), "  chip");
    EXPECT_EQ(Shown(ComputerDevices[0][1]), "  video");
}

} // namespace
