#include "series/Identification.h"

#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "platform/MemoryStatus.h"
#include "platform/Priority.h"
#include "platform/TimeStampCounter.h"
#include "platform/TimeZone.h"
#include "render/AdapterInfo.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::string_view Windows9xKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr std::string_view System9xClassKey =
    "\\SYSTEM\\CurrentControlSet\\Services\\Class\\System";
constexpr std::string_view Display9xClassKey =
    "\\SYSTEM\\CurrentControlSet\\Services\\Class\\Display";

std::string Cut255(std::string text) {
    if (text.size() > 255)
        text.resize(255);
    return text;
}

std::string RegistryText(std::string_view key, std::string_view value) {
    return ShownText(ReadRegistryText(HKEY_LOCAL_MACHINE, key, value));
}

} // namespace

TStringSlot StoredField(std::string_view text) {
    return ScrambleText(MakeStringSlot(text.substr(0, 255)));
}

std::string ShownText(const TStringSlot& field) {
    return StringSlotText(UnscrambleText(field));
}

// ---- Clock estimate -------------------------------------------------------------------------

std::int32_t MeasureCpuMhz() {
    const TPriorities before = GetPriorities();
    SetRealtimePriority();
    Sleep(10);
    const std::uint64_t start = ReadTimeStampCounter();
    Sleep(1000);
    const std::uint64_t end = ReadTimeStampCounter();
    SetPriorities(before);
    // The whole 64-bit difference: a 32-bit one would wrap above 4.29 GHz.
    return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(end - start) / 1e6));
}

std::int32_t SnapCpuMhz(std::int32_t estimate) {
    const std::int32_t hundreds = estimate / 100;
    std::int32_t rest = estimate % 100;
    const std::int32_t steps[][2] = {{0, 0}, {34, 33}, {50, 50}, {67, 66}, {100, 100}};
    for (const auto& step : steps)
        if (std::abs(rest - step[0]) <= 4)
            rest = step[1];
    return hundreds * 100 + rest;
}

std::int32_t VoteCpuMhz(const std::array<std::int32_t, 3>& estimates) {
    const std::int32_t e1 = SnapCpuMhz(estimates[0]);
    const std::int32_t e2 = SnapCpuMhz(estimates[1]);
    const std::int32_t e3 = SnapCpuMhz(estimates[2]);
    if (e1 == e2 || e1 == e3)
        return e1;
    if (e2 == e3)
        return e2;
    return std::min({e1, e2, e3});
}

std::int32_t EstimateCpuMhz(const std::function<std::int32_t()>& measure) {
    std::array<std::int32_t, 3> estimates{};
    for (std::int32_t& estimate : estimates)
        estimate = measure();
    return VoteCpuMhz(estimates);
}

// ---- Texts of the description ---------------------------------------------------------------

std::string TrimProcessorName(std::string_view name) {
    std::size_t first = 0;
    while (first < name.size() && static_cast<unsigned char>(name[first]) <= 32)
        ++first;
    return Cut255(std::string(name.substr(first)));
}

std::string ProcessorWithClock(std::string_view name, std::int32_t mhz) {
    return Cut255(std::string(name) + " (~" + std::to_string(mhz) + "MHz)");
}

QString TimeZoneHours(std::int32_t bias, const QLocale& locale) {
    const double hours = -static_cast<double>(bias) / 60.0;
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = plain.toString(hours, 'f', 2);
    // "0.##": no trailing zeros, and no separator without decimals.
    const QString separator = plain.decimalPoint();
    if (text.contains(separator)) {
        while (text.endsWith(plain.zeroDigit()))
            text.chop(plain.zeroDigit().size());
        if (text.endsWith(separator))
            text.chop(separator.size());
    }
    if (text == plain.negativeSign() + plain.zeroDigit())
        text = plain.zeroDigit();
    return text;
}

std::string TimeZoneText(std::string_view standardName, std::int32_t bias, const QLocale& locale) {
    return std::string(standardName) + " (Bias=" + TimeZoneHours(bias, locale).toStdString() + ")";
}

std::string MemoryMegabytes(std::uint64_t bytes) {
    const std::uint64_t whole = bytes >> 20;
    const std::uint64_t rest = bytes & ((1u << 20) - 1);
    const std::uint64_t half = 1u << 19;
    const bool up = rest > half || (rest == half && (whole & 1) != 0);
    return std::to_string(whole + (up ? 1 : 0));
}

// ---- Chipset --------------------------------------------------------------------------------

TChipsetChoice ClassifyChipset(const std::vector<std::string>& descriptions,
                               const QLocale& locale) {
    TChipsetChoice choice{std::string(NotDetermined), 0};
    for (const std::string& description : descriptions) {
        const QString text = locale.toLower(QString::fromUtf8(Cp1251ToUtf8(description)));
        const auto pos = [&text](const char* word) {
            return text.indexOf(QString::fromUtf8(word)) + 1;
        };
        const auto cpu = pos("cpu"), pci = pos("pci"), io = pos("i/o");
        const auto processor = pos("processor"), processorRu = pos("процессор");
        const auto isa = pos("isa"), agp = pos("agp");
        const bool bridge = pos("bridge") > 0 || pos("мост") > 0;

        const auto take = [&](int level) {
            if (choice.Level <= level) {
                choice.Level = level;
                choice.Description = description;
            }
        };
        if ((cpu > 0 && pci > 0) || io > 0)
            take(4);
        if (pci > 0 && (processor > 0 || processorRu > 0) && isa == 0 && agp == 0 &&
            processor < pci && processorRu < pci)
            take(3);
        if (pci > 0 && processor == 0 && processorRu == 0 && isa == 0 && agp == 0 && bridge)
            take(2);
        if (pci > 0 && isa == 0 && agp == 0 && bridge)
            take(1);
    }
    return choice;
}

// ---- Registry -------------------------------------------------------------------------------

std::vector<std::string> DeviceDescriptions(std::string_view classKey) {
    std::vector<std::string> descriptions;
    const RegistryKey* key = CurrentRegistry().OpenKey(HKEY_LOCAL_MACHINE, classKey);
    if (key == nullptr)
        return descriptions;
    for (const std::string& name : key->SubkeyNames())
        descriptions.push_back(RegistryText(std::string(classKey) + "\\" + name, "DriverDesc"));
    return descriptions;
}

// ---- The steps ------------------------------------------------------------------------------

TDeviceClassKeys IdentifyComputer(const std::function<std::int32_t()>& measureCpuMhz) {
    CurrentComputer = TComputerRecord{};
    CurrentComputer.RecordTag = StoredField("1");

    const TTimeZoneInformation zone = GetTimeZoneInformation();
    CurrentComputer.TimeZone =
        StoredField(Utf8ToCp1251(TimeZoneText(zone.StandardName, zone.Bias)));

    TDeviceClassKeys keys;
    std::string processorName;
    const std::string product9x = RegistryText(Windows9xKey, "ProductName");
    if (product9x != NotDetermined) {
        CurrentComputer.OSName = StoredField(product9x);
        CurrentComputer.Owner =
            ReadRegistryText(HKEY_LOCAL_MACHINE, Windows9xKey, "RegisteredOwner");
        processorName = RegistryText(CentralProcessorKey, "Identifier");
        keys = {std::string(System9xClassKey), std::string(Display9xClassKey)};
    } else {
        CurrentComputer.OSName =
            ReadRegistryText(HKEY_LOCAL_MACHINE, NtCurrentVersionKey, "ProductName");
        CurrentComputer.Owner =
            ReadRegistryText(HKEY_LOCAL_MACHINE, NtCurrentVersionKey, "RegisteredOwner");
        processorName = RegistryText(CentralProcessorKey, "ProcessorNameString");
        keys = {std::string(SystemDeviceClassKey), std::string(DisplayDeviceClassKey)};
    }
    processorName = TrimProcessorName(processorName);
    CurrentComputer.Processor = StoredField(processorName);

    CurrentComputer.Processor = StoredField(
        ProcessorWithClock(ShownText(CurrentComputer.Processor), EstimateCpuMhz(measureCpuMhz)));

    CurrentComputer.MemoryMB = StoredField(MemoryMegabytes(GlobalMemoryStatus().TotalPhys));

    CurrentComputer.Chipset =
        StoredField(ClassifyChipset(DeviceDescriptions(keys.System)).Description);

    ReadAdapterInfo();
    return keys;
}

void FindOrAddComputer() {
    CurrentComputerIndex = static_cast<std::int32_t>(Computers.size());
    for (std::size_t i = 0; i < Computers.size(); ++i)
        if (std::memcmp(&Computers[i], &CurrentComputer, sizeof(TComputerRecord)) == 0)
            CurrentComputerIndex = static_cast<std::int32_t>(i);
    if (CurrentComputerIndex == static_cast<std::int32_t>(Computers.size())) {
        Computers.push_back(CurrentComputer);
        ComputerDevices.resize(Computers.size());
        ComputerResults.resize(Computers.size());
    }
}

void RebuildDeviceList(const TDeviceClassKeys& keys) {
    std::vector<TStringSlot>& devices = ComputerDevices[CurrentComputerIndex];
    devices.clear();
    const auto append = [&devices](std::string_view heading, std::string_view classKey) {
        devices.push_back(StoredField(heading));
        for (const std::string& description : DeviceDescriptions(classKey))
            if (description != NotDetermined)
                devices.push_back(StoredField(description));
    };
    append("  chip", keys.System);
    append("  video", keys.Display);
}

void IdentifyAndRegisterComputer(const std::function<std::int32_t()>& measureCpuMhz) {
    const TDeviceClassKeys keys = IdentifyComputer(measureCpuMhz);
    FindOrAddComputer();
    RebuildDeviceList(keys);
}
