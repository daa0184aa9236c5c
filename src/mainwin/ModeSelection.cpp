#include "mainwin/ModeSelection.h"

#include "platform/DisplayModeTest.h"

void TestDisplayModes(const std::function<bool(int, int, int)>& accepts) {
    for (int mode = 0; mode < ModeSizeCount; ++mode)
        for (int depth = 0; depth < ModeDepthCount; ++depth)
            ModeAvailable[mode][depth] =
                accepts(ModeSizes[mode].Width, ModeSizes[mode].Height, ModeDepths[depth]) ? 1 : 0;
}

void TestDisplayModes() {
    TestDisplayModes(DisplayModeAvailable);
}

std::vector<std::string>
ModeCaptions(const std::uint8_t (&available)[ModeSizeCount][ModeDepthCount]) {
    std::vector<std::string> captions;
    for (int mode = 0; mode < ModeSizeCount; ++mode)
        for (int depth = 0; depth < ModeDepthCount; ++depth)
            if (available[mode][depth] != 0)
                captions.push_back(std::to_string(ModeSizes[mode].Width) + " x " +
                                   std::to_string(ModeSizes[mode].Height) + " pixels, " +
                                   std::to_string(ModeDepths[depth]) + " bits");
    return captions;
}

std::vector<std::string> AccelerationItems(const TComputerRecord& computer, bool direct3DMissing) {
    if (direct3DMissing)
        return {};
    if (computer.HalCaps.DeviceType == 0)
        return {"Программная эмуляция"};
    std::vector<std::string> items;
    if ((computer.HalCaps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0) {
        items.push_back("Аппаратное и программное");
        items.push_back("Аппаратное");
    }
    items.push_back("Программное");
    return items;
}

std::optional<TScopeChange> ScopeChange(int scopeIndex, int accelerationCount,
                                        int accelerationIndex) {
    if (scopeIndex == 0)
        return TScopeChange{false, accelerationCount > 1 ? 0 : accelerationIndex, true};
    if (scopeIndex == 1)
        return TScopeChange{true, accelerationCount == 3 ? 1 : accelerationIndex, false};
    return std::nullopt;
}
