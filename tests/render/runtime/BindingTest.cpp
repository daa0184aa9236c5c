// Loading the runtime, the adapter's answers, and which devices this computer has.
#include "RuntimeFixture.h"

#include <cstring>
#include <string>

using namespace rttest;

namespace {

bool SoftwareRenderer(IDirect3D8* d3d) {
    D3DADAPTER_IDENTIFIER8 id{};
    if (FAILED(d3d->GetAdapterIdentifier(0, 0, &id)))
        return false;
    const std::string name = id.Description;
    return name.find("llvmpipe") != std::string::npos ||
           name.find("softpipe") != std::string::npos || name.find("swrast") != std::string::npos;
}

} // namespace

TEST(RuntimeBinding, MissingLibraryMeansNoDirect3D) {
    LoadDirect3DLibrary("/nonexistent/folder/libd3d8.so");
    EXPECT_EQ(Direct3DLibraryHandle(), nullptr);
    EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION), nullptr);
    FreeDirect3DLibrary();
    EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION), nullptr);

    LoadDirect3DLibrary();
    ASSERT_NE(Direct3DLibraryHandle(), nullptr);
    EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION + 1), nullptr) << "unknown SDK version";
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->GetAdapterCount(), 1u);
    EXPECT_EQ(d3d->Release(), 0u);
}

using AdapterTest = RuntimeTest;

TEST_F(AdapterTest, IdentifierAndDisplayMode) {
    D3DADAPTER_IDENTIFIER8 id;
    std::memset(&id, 0x5A, sizeof id);
    ASSERT_EQ(d3d_->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_GT(std::strlen(id.Description), 0u);
    EXPECT_LT(std::strlen(id.Description), sizeof id.Description);

    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &mode), D3D_OK);
    // The test server's screen: 1600 x 1200 at 24 bits.
    EXPECT_EQ(mode.Width, 1600u);
    EXPECT_EQ(mode.Height, 1200u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
}

// A software renderer is a computer without a HAL device, exactly like a PC without a 3D
// driver; the test switch turns it into one so the HAL paths can run here.
TEST_F(AdapterTest, HalOnlyOnHardwareOrWithTheTestSwitch) {
    const bool software = SoftwareRenderer(d3d_);
    D3DCAPS8 caps;
    std::memset(&caps, 0x5A, sizeof caps);
    if (software) {
        EXPECT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3DERR_NOTAVAILABLE);
        EXPECT_TRUE(FAILED(
            d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE_)));
        QWindow window;
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = 640;
        pp.BackBufferHeight = 480;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.EnableAutoDepthStencil = D3D_TRUE_ALL_BITS;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        IDirect3DDevice8* device = reinterpret_cast<IDirect3DDevice8*>(&window);
        EXPECT_TRUE(FAILED(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, &window,
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device)));
        EXPECT_EQ(device, nullptr);
        TreatSoftwareAsHardware(true);
    }
    ASSERT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(caps.AdapterOrdinal, 0u);
    EXPECT_NE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT, 0u);
    EXPECT_NE(caps.DevCaps & D3DDEVCAPS_HWRASTERIZATION, 0u);
    EXPECT_EQ(caps.MaxActiveLights, 8u);
    EXPECT_GE(caps.MaxTextureWidth, 1024u);
    EXPECT_EQ(caps.MaxTextureWidth, caps.MaxTextureHeight);
    EXPECT_EQ(caps.MaxStreams, 1u);
    EXPECT_GE(caps.MaxPrimitiveCount, 2400u);
    EXPECT_EQ(d3d_->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE_),
              D3D_OK);

    D3DCAPS8 ref;
    ASSERT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref), D3D_OK);
    EXPECT_EQ(ref.DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(ref.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT, 0u);
    EXPECT_EQ(ref.MaxTextureWidth, caps.MaxTextureWidth);
    EXPECT_EQ(ref.MaxActiveLights, 8u);
}

TEST_F(AdapterTest, CheckDeviceTypeFormats) {
    struct Case {
        D3DDEVTYPE type;
        D3DFORMAT display, back;
        BOOL windowed;
        bool ok;
    } cases[] = {
        {D3DDEVTYPE_REF, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE_, true},
        {D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE_, true},
        {D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, FALSE_, false},
        {D3DDEVTYPE_REF, D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5, FALSE_, false},
        {D3DDEVTYPE_REF, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, FALSE_, false},
        {D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3D_TRUE_ALL_BITS, false},
        {D3DDEVTYPE_SW, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE_, false},
        {D3DDEVTYPE(7), D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE_, false},
    };
    if (!SoftwareRenderer(d3d_))
        GTEST_SKIP() << "the reference device is offered only without a HAL device";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.display << " " << c.back << " " << c.windowed);
        const HRESULT hr = d3d_->CheckDeviceType(0, c.type, c.display, c.back, c.windowed);
        EXPECT_EQ(SUCCEEDED(hr), c.ok);
    }
    EXPECT_TRUE(
        FAILED(d3d_->CheckDeviceType(1, D3DDEVTYPE_REF, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE_)));
}

// Texture memory falls as the device allocates and comes back when it frees.
TEST_F(AdapterTest, AvailableTextureMemoryFollowsAllocations) {
    ASSERT_TRUE(
        CreateDevice(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, 640, 480, D3DFMT_R5G6B5));
    const UINT start = device_->GetAvailableTextureMem();
    EXPECT_GT(start, 64u << 20);
    EXPECT_LE(start, 4095u << 20);
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 11u);
    const UINT chain = 4 * (1024 * 1024 * 4 - 1) / 3; // every level of the chain, 4 bytes a texel
    EXPECT_EQ(start - device_->GetAvailableTextureMem(), chain);
    IDirect3DVertexBuffer8* buffer = nullptr;
    ASSERT_EQ(
        device_->CreateVertexBuffer(122880, D3DUSAGE_WRITEONLY, 0x112, D3DPOOL_DEFAULT, &buffer),
        D3D_OK);
    EXPECT_EQ(start - device_->GetAvailableTextureMem(), chain + 122880);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(start - device_->GetAvailableTextureMem(), 122880u);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(device_->GetAvailableTextureMem(), start);
}
