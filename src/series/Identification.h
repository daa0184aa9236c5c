// System identification: the description of this computer in CurrentComputer, and this
// computer's entry and device list in the results store. Plain functions, so that the main
// window's start-up, the show_computer tool and a command line run the same steps.
#pragma once

#include "state/Variables.h"

#include <QLocale>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// ---- Stored texts ---------------------------------------------------------------------------

// A code page 1251 text as a computer field holds it: cut to 255 bytes, scrambled, zero tail.
TStringSlot StoredField(std::string_view text);
// The code page 1251 text of a scrambled field.
std::string ShownText(const TStringSlot& field);

// ---- Clock estimate -------------------------------------------------------------------------

// One estimate of the processor clock in MHz: the time-stamp counter over one second slept at
// real-time priority, the full 64-bit tick difference, rounded half to even.
std::int32_t MeasureCpuMhz();
// Snaps an estimate to the usual clock steps of a hundred: x00, x33, x50, x66 and the next
// hundred for remainders within 4.
std::int32_t SnapCpuMhz(std::int32_t estimate);
// Snaps three estimates, then votes: the first when another equals it, else the second when
// the third equals it, else the smallest.
std::int32_t VoteCpuMhz(const std::array<std::int32_t, 3>& estimates);
// Three measurements with measure, snapped and voted.
std::int32_t EstimateCpuMhz(const std::function<std::int32_t()>& measure = MeasureCpuMhz);

// ---- Texts of the description ---------------------------------------------------------------

// The processor name without leading characters of code 0..32, cut to 255 bytes.
std::string TrimProcessorName(std::string_view name);
// name, " (~", mhz and "MHz)", cut to 255 bytes.
std::string ProcessorWithClock(std::string_view name, std::int32_t mhz);
// −bias / 60 hours formatted "0.##" with the locale's decimal separator.
QString TimeZoneHours(std::int32_t bias, const QLocale& locale = QLocale());
// name, " (Bias=", the hours and ")", in UTF-8.
std::string TimeZoneText(std::string_view standardName, std::int32_t bias,
                         const QLocale& locale = QLocale());
// Bytes rounded half to even to whole megabytes, as decimal text (64-bit, never capped).
std::string MemoryMegabytes(std::uint64_t bytes);

// ---- Chipset --------------------------------------------------------------------------------

struct TChipsetChoice {
    std::string Description; // code page 1251; "n/d" when no device qualifies
    int Level;               // 0..4
};

// The chipset among the system devices' descriptions (code page 1251, in enumeration order):
// the last device meeting the highest level of the keyword rules, compared lower-cased with
// the locale's rules (Cyrillic too).
TChipsetChoice ClassifyChipset(const std::vector<std::string>& descriptions,
                               const QLocale& locale = QLocale());

// ---- Registry -------------------------------------------------------------------------------

// The device class keys of the Windows family found while reading the system facts.
struct TDeviceClassKeys {
    std::string System;
    std::string Display;
};

// The "DriverDesc" text of every subkey of a device class key (code page 1251, "n/d" where it
// is unusable), in enumeration order; nothing when the key cannot be opened.
std::vector<std::string> DeviceDescriptions(std::string_view classKey);

// ---- The steps ------------------------------------------------------------------------------

// Fills CurrentComputer from scratch: record tag, time zone, operating system, owner,
// processor with the clock estimate, memory, chipset, and the adapter through ReadAdapterInfo
// (which also sets Direct3DMissing). Returns the device class keys of the Windows family.
TDeviceClassKeys
IdentifyComputer(const std::function<std::int32_t()>& measureCpuMhz = MeasureCpuMhz);

// Sets CurrentComputerIndex to the last stored computer equal to CurrentComputer in all its
// bytes, adding it with empty lists where there is none.
void FindOrAddComputer();
// Replaces the device list of the current computer: "  chip", the system devices, "  video",
// the display devices; unusable descriptions left out. Not saved here.
void RebuildDeviceList(const TDeviceClassKeys& keys);

// The three steps above in their order: this computer described, found or added in the store
// (loaded before), and its device list rebuilt. The main window, the command line and
// show_computer all identify the computer through it.
void IdentifyAndRegisterComputer(
    const std::function<std::int32_t()>& measureCpuMhz = MeasureCpuMhz);
