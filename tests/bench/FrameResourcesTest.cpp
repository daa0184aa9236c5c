// The frames of a pass, once its first frame has been drawn, allocate nothing on the C++ heap
// and create no GL object, on every device and vertex path: what a frame needs is made before
// the timed frames or by the first, uncounted, warm-up frame. Allocations made from inside the
// driver (its C allocations, and its shader compiler's, which compiles a variant whenever a
// frame first needs one) are its business: they are counted apart and only reported.
#include "PassFixture.h"
#include "bench/Test1.h"
#include "platform/MemoryStatus.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>
#include <new>
#include <string>
#include <vector>

namespace {

std::atomic<bool> Counting{false};
std::atomic<long> Allocations{0}, DriverAllocations{0};
thread_local bool Inside = false;

// Whether a caller on the stack is the GL driver (Mesa's DRI module or the LLVM it compiles
// shaders with).
bool FromDriver() {
    void* frames[64];
    const int n = backtrace(frames, 64);
    for (int i = 0; i < n; ++i) {
        Dl_info info{};
        if (dladdr(frames[i], &info) != 0 && info.dli_fname != nullptr &&
            (std::strstr(info.dli_fname, "_dri.so") != nullptr ||
             std::strstr(info.dli_fname, "libLLVM") != nullptr))
            return true;
    }
    return false;
}

void Count() {
    if (!Counting.load(std::memory_order_relaxed) || Inside)
        return;
    Inside = true;
    (FromDriver() ? DriverAllocations : Allocations).fetch_add(1, std::memory_order_relaxed);
    Inside = false;
}

void* Allocate(std::size_t size) {
    Count();
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    Count();
    const auto align = static_cast<std::size_t>(alignment);
    return std::aligned_alloc(align, (size + align - 1) / align * align);
}

} // namespace

// The program's every C++ allocation passes here, the shared libraries' included.
void* operator new(std::size_t size) {
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = AllocateAligned(size, alignment))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using namespace passtest;

// The names of the GL objects that exist in the current context, kind by kind, among the first
// few thousand (GL hands out small names).
std::vector<std::vector<GLuint>> LiveObjects() {
    QOpenGLExtraFunctions* gl = QOpenGLContext::currentContext()->extraFunctions();
    std::vector<std::vector<GLuint>> live(6);
    for (GLuint name = 1; name <= 4096; ++name) {
        const GLboolean is[6] = {gl->glIsBuffer(name),      gl->glIsTexture(name),
                                 gl->glIsProgram(name),     gl->glIsShader(name),
                                 gl->glIsFramebuffer(name), gl->glIsRenderbuffer(name)};
        for (int kind = 0; kind < 6; ++kind)
            if (is[kind] == GL_TRUE)
                live[kind].push_back(name);
    }
    return live;
}

struct Path {
    const char* name;
    Kind kind;
    int detail;
};

class FrameResources : public FramesTest<testing::TestWithParam<Path>> {
protected:
    void TearDown() override {
        Counting = false;
        FramesTest::TearDown();
    }
};

TEST_P(FrameResources, FramesAfterTheFirstAllocateNothingAndCreateNoGlObject) {
    const Path& path = GetParam();
    ASSERT_TRUE(UseKind(path.kind));
    CurrentTest = Config(640, 480, 32, path.kind, path.detail);

    TTestScreen screen;
    screen.show();
    ASSERT_TRUE(screen.PrepareFrames()) << StatusText;
    screen.DrawFrameAt(0); // the warm-up frame that builds what the frames keep
    const auto before = LiveObjects();

    // Frames all round the corridor, with what the pass does after each but the message pump.
    FromDriver(); // the unwinder's own first-use set-up, before counting
    Allocations = 0;
    DriverAllocations = 0;
    Counting = true;
    for (std::int64_t e = 250; e < MeasuredDurationMs; e += 500) {
        screen.DrawFrameAt(e);
        [[maybe_unused]] const TMemoryStatus status = GlobalMemoryStatus();
        [[maybe_unused]] const UINT textureMemory = screen.Device->GetAvailableTextureMem();
    }
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
    RecordProperty("DriverAllocations", std::to_string(DriverAllocations.load()));
    EXPECT_EQ(LiveObjects(), before) << "GL objects made or deleted during the frames";
    EXPECT_FALSE(before[0].empty()) << "the probe sees the buffers";
}

INSTANTIATE_TEST_SUITE_P(EveryPath, FrameResources,
                         testing::Values(Path{"Reference", Kind::Ref, 4},
                                         Path{"HalHardwareVp", Kind::HalHardware, 4},
                                         Path{"HalSoftwareVp", Kind::HalSoftware, 4},
                                         Path{"HalSoftwareVpPresentation", Kind::HalSoftware, 1}),
                         [](const testing::TestParamInfo<Path>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
