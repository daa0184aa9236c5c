#include "state/Variables.h"

#include <algorithm>

TComputerRecord CurrentComputer{};
std::int32_t CurrentComputerIndex = 0;
std::uint8_t ModeAvailable[ModeSizeCount][ModeDepthCount]{};
TTestConfig CurrentTest{};
bool Direct3DMissing = false;
bool ResultsChanged = false;
bool TestFailed = false;
bool ResultsUnsaved = false;

// Defined in this order so that they are released at the end in the reverse one: StatusText,
// ComputerResults, ComputerDevices, Computers.
std::vector<TComputerRecord> Computers;
std::vector<std::vector<TStringSlot>> ComputerDevices;
std::vector<std::vector<TResultRecord>> ComputerResults;
std::string StatusText;

TStringSlot MakeStringSlot(std::string_view text) {
    TStringSlot slot{};
    const std::size_t length = std::min<std::size_t>(text.size(), 255);
    slot[0] = static_cast<std::uint8_t>(length);
    std::copy_n(text.begin(), length, slot.begin() + 1);
    return slot;
}

std::string StringSlotText(const TStringSlot& slot) {
    return std::string(reinterpret_cast<const char*>(slot.data()) + 1, slot[0]);
}

void SetStatusText(std::string_view text) {
    StatusText.assign(text);
}
