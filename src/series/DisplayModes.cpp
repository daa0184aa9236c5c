#include "series/DisplayModes.h"

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
