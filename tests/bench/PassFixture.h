// What the tests of whole passes and of a pass's frames share: the runtime's test switch, the
// adapter's caps, and a test configuration.
#pragma once

#include "bench/Test1.h"
#include "state/Variables.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace passtest {

// Turns the runtime's test-only switch: the software renderer counts as a hardware one.
inline bool SoftwareAsHardware(int enable) {
    void* handle = Direct3DLibraryHandle();
    if (handle == nullptr)
        return false;
    auto* proc = reinterpret_cast<Direct3DTestSoftwareAsHardwareProc>(
        dlsym(handle, Direct3DTestSoftwareAsHardwareSymbol));
    if (proc == nullptr)
        return false;
    proc(enable);
    return true;
}

// The adapter's capability blocks as the runtime reports them now.
inline void ReadCaps(D3DCAPS8& hal, D3DCAPS8& ref) {
    hal = D3DCAPS8{};
    ref = D3DCAPS8{};
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr) << "the runtime library did not load";
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &hal)))
        hal = D3DCAPS8{};
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref)))
        ref = D3DCAPS8{};
    d3d->Release();
}

enum class Kind { Ref, HalHardware, HalSoftware };

inline TTestConfig Config(int width, int height, int depth, Kind kind, int detail) {
    TTestConfig test{};
    test.Width = static_cast<std::uint16_t>(width);
    test.Height = static_cast<std::uint16_t>(height);
    test.Depth = static_cast<std::uint16_t>(depth);
    test.RefreshRate = 0;
    test.HardwareDevice = kind == Kind::Ref ? 0 : 1;
    test.HardwareVertexProcessing = kind == Kind::HalHardware ? 1 : 0;
    test.VertexBufferMode = 2;
    test.TextureMode = 2;
    test.DetailLevel = static_cast<std::uint8_t>(detail);
    return test;
}

// A test of a pass's frames on the runtime library: this computer's record and the test
// configuration are put back afterwards, the test switch turned off, and the pass works in a
// temporary folder without texture cache files.
template <class Base> class FramesTest : public Base {
protected:
    static void SetUpTestSuite() { LoadDirect3DLibrary(); }
    void SetUp() override {
        ASSERT_NE(Direct3DLibraryHandle(), nullptr) << "libd3d8.so next to the test program";
        savedComputer_ = CurrentComputer;
        savedTest_ = CurrentTest;
        TestFailed = false;
    }
    void TearDown() override {
        SoftwareAsHardware(0);
        CurrentComputer = savedComputer_;
        CurrentTest = savedTest_;
        TestFailed = false;
    }
    // The caps of this computer as the runtime reports them, with the switch on for a HAL kind;
    // false (with a failure) when the switch is missing.
    bool UseKind(Kind kind) {
        if (kind != Kind::Ref && !SoftwareAsHardware(1)) {
            ADD_FAILURE() << "the runtime's test switch is missing";
            return false;
        }
        ReadCaps(CurrentComputer.HalCaps, CurrentComputer.RefCaps);
        return true;
    }

private:
    TempDir workDir_{true};
    TComputerRecord savedComputer_{};
    TTestConfig savedTest_{};
};

} // namespace passtest
