// A still of the fly-through, drawn by the real pass set-up and frame code on each device and
// vertex path, against the picture the same frame gave before the runtime's vertex paths were
// reworked for speed (fixtures/, saved from that runtime): the work may get cheaper, the
// picture may not change.
#include "PassFixture.h"
#include "bench/Test1.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace passtest;

constexpr int Width = 320, Height = 240;
// Far enough into the fly-through that the lights have spread along the corridor.
constexpr std::int64_t StillAtMs = 2345;

// The front buffer as top-down rows of 0x00RRGGBB; empty when it cannot be read.
std::vector<std::uint32_t> ReadFront(IDirect3DDevice8* device) {
    std::vector<std::uint32_t> pixels;
    IDirect3DSurface8* surface = nullptr;
    if (FAILED(device->CreateImageSurface(Width, Height, D3DFMT_A8R8G8B8, &surface)))
        return pixels;
    D3DLOCKED_RECT rect{};
    if (SUCCEEDED(device->GetFrontBuffer(surface)) &&
        SUCCEEDED(surface->LockRect(&rect, nullptr, 0))) {
        pixels.resize(std::size_t(Width) * Height);
        for (int y = 0; y < Height; ++y)
            std::memcpy(&pixels[std::size_t(y) * Width],
                        static_cast<const BYTE*>(rect.pBits) + std::size_t(y) * rect.Pitch,
                        std::size_t(Width) * 4);
        for (std::uint32_t& p : pixels)
            p &= 0xFFFFFFu;
        surface->UnlockRect();
    }
    surface->Release();
    return pixels;
}

std::vector<std::uint32_t> LoadFixture(const std::string& name) {
    std::vector<std::uint32_t> pixels;
    const QImage image(QString::fromStdString(std::string(STENDO_BENCH_FIXTURES) + "/" + name));
    if (image.width() != Width || image.height() != Height)
        return pixels;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    pixels.resize(std::size_t(Width) * Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            pixels[std::size_t(y) * Width + x] = rgb.pixel(x, y) & 0xFFFFFFu;
    return pixels;
}

struct Still {
    const char* name;
    Kind kind;
    const char* fixture;
};

class StillFrame : public FramesTest<testing::TestWithParam<Still>> {
protected:
    // The still as the pass draws it, read back from the front buffer.
    std::vector<std::uint32_t> Draw(const Still& still) {
        if (!UseKind(still.kind))
            return {};
        CurrentTest = Config(Width, Height, 32, still.kind, 4);
        TTestScreen screen;
        screen.show();
        if (!screen.PrepareFrames()) {
            ADD_FAILURE() << StatusText;
            return {};
        }
        // The first frames build what the paths keep; the still comes after them, as the
        // measured frames of a pass do.
        for (const std::int64_t e : {std::int64_t{0}, std::int64_t{1000}, StillAtMs})
            screen.DrawFrameAt(e);
        return ReadFront(screen.Device);
    }
};

TEST_P(StillFrame, MatchesThePictureSavedBeforeTheRework) {
    const Still& still = GetParam();
    const std::vector<std::uint32_t> drawn = Draw(still);
    const std::vector<std::uint32_t> saved = LoadFixture(still.fixture);
    ASSERT_EQ(drawn.size(), std::size_t(Width) * Height);
    ASSERT_EQ(saved.size(), drawn.size()) << "fixture " << still.fixture;
    // The tolerance of the hardware and software paths' comparison.
    std::size_t close = 0, lit = 0;
    int worst = 0;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        int diff = 0;
        for (int shift : {0, 8, 16})
            diff = std::max(
                diff, std::abs(int((drawn[i] >> shift) & 0xFF) - int((saved[i] >> shift) & 0xFF)));
        worst = std::max(worst, diff);
        close += diff <= 2 ? 1 : 0;
        lit += drawn[i] != 0 ? 1 : 0;
    }
    EXPECT_GT(lit, drawn.size() * 9 / 10) << "the corridor fills the screen";
    EXPECT_GE(double(close), 0.99 * double(drawn.size()));
    EXPECT_LE(worst, 8);
}

// The reference device and HAL software vertex processing share one software path, so they
// share one saved picture.
INSTANTIATE_TEST_SUITE_P(
    EveryPath, StillFrame,
    testing::Values(Still{"Reference", Kind::Ref, "still-software-vp.png"},
                    Still{"HalHardwareVp", Kind::HalHardware, "still-hardware-vp.png"},
                    Still{"HalSoftwareVp", Kind::HalSoftware, "still-software-vp.png"}),
    [](const testing::TestParamInfo<Still>& info) { return std::string(info.param.name); });

} // namespace
