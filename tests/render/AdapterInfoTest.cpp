// The adapter's identity through the real runtime (needs OpenGL: run under Xvfb), and without it.
#include "render/AdapterInfo.h"
#include "render/DirectXGraphics.h"
#include "state/Variables.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Unscrambled(const TStringSlot& slot) {
    return StringSlotText(UnscrambleText(slot));
}

bool AllZero(const D3DCAPS8& caps) {
    static const D3DCAPS8 zero{};
    return std::memcmp(&caps, &zero, sizeof caps) == 0;
}

} // namespace

TEST(ReadAdapterInfo, FillsTheAdapterFromTheRuntimeOnThisMachine) {
    // The renderer's own description, asked of OpenGL directly.
    QOpenGLContext context;
    ASSERT_TRUE(context.create());
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    ASSERT_TRUE(context.makeCurrent(&surface));
    const std::string renderer =
        reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    context.doneCurrent();

    LoadDirect3DLibrary();
    CurrentComputer = TComputerRecord{};
    Direct3DMissing = false;
    ReadAdapterInfo();
    FreeDirect3DLibrary();

    EXPECT_FALSE(Direct3DMissing);
    EXPECT_EQ(Unscrambled(CurrentComputer.VideoAdapter), renderer.substr(0, 255));
    EXPECT_EQ(CurrentComputer.RefCaps.DeviceType, D3DDEVTYPE_REF);
    if (renderer.find("llvmpipe") != std::string::npos ||
        renderer.find("softpipe") != std::string::npos) {
        EXPECT_TRUE(AllZero(CurrentComputer.HalCaps)) << "a software renderer is no HAL";
    }
}

TEST(ReadAdapterInfo, WithoutTheRuntimeSetsDirect3DMissingAndTouchesNothing) {
    LoadDirect3DLibrary("/nonexistent/libd3d8.so");
    CurrentComputer = TComputerRecord{};
    Direct3DMissing = false;
    ReadAdapterInfo();
    FreeDirect3DLibrary();
    EXPECT_TRUE(Direct3DMissing);
    EXPECT_EQ(CurrentComputer.VideoAdapter, TStringSlot{});
    EXPECT_TRUE(AllZero(CurrentComputer.HalCaps));
    EXPECT_TRUE(AllZero(CurrentComputer.RefCaps));
    Direct3DMissing = false;
}
