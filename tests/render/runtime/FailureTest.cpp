// Bad input fails cleanly: a failing HRESULT, a null output, no crash and (under the
// sanitizer build) no leak.
#include "RuntimeFixture.h"

#include <functional>

using namespace rttest;

namespace {

class FailureTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_TRUE(CreateDevice(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, 640, 480,
                                 D3DFMT_X8R8G8B8));
    }
};

D3DPRESENT_PARAMETERS GoodParams() {
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 640;
    pp.BackBufferHeight = 480;
    pp.BackBufferFormat = D3DFMT_R5G6B5;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.EnableAutoDepthStencil = D3D_TRUE_ALL_BITS;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    return pp;
}

} // namespace

TEST_F(FailureTest, CreationWithBadArgumentsMakesNothing) {
    IDirect3DVertexBuffer8* vb = nullptr;
    IDirect3DTexture8* tex = nullptr;
    IDirect3DSurface8* surface = nullptr;
    const UINT memory = device_->GetAvailableTextureMem();
    struct Case {
        const char* name;
        std::function<HRESULT()> call;
    } cases[] = {
        {"vertex buffer, unknown pool",
         [&] { return device_->CreateVertexBuffer(320, 8, 0x112, D3DPOOL(3), &vb); }},
        {"vertex buffer, pool 99",
         [&] { return device_->CreateVertexBuffer(320, 8, 0x112, D3DPOOL(99), &vb); }},
        {"vertex buffer, length 0",
         [&] { return device_->CreateVertexBuffer(0, 8, 0x112, D3DPOOL_MANAGED, &vb); }},
        {"vertex buffer, other FVF",
         [&] { return device_->CreateVertexBuffer(320, 8, 0x142, D3DPOOL_MANAGED, &vb); }},
        {"vertex buffer, huge",
         [&] { return device_->CreateVertexBuffer(0xFFFFFFF0u, 8, 0x112, D3DPOOL_MANAGED, &vb); }},
        {"vertex buffer, null output",
         [&] { return device_->CreateVertexBuffer(320, 8, 0x112, D3DPOOL_MANAGED, nullptr); }},
        {"texture, unknown pool",
         [&] {
             return device_->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL(5), &tex);
         }},
        {"texture, 16-bit format",
         [&] {
             return device_->CreateTexture(1024, 1024, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &tex);
         }},
        {"texture, depth format",
         [&] { return device_->CreateTexture(256, 256, 1, 0, D3DFMT_D16, D3DPOOL_MANAGED, &tex); }},
        {"texture, 12 levels of 1024",
         [&] {
             return device_->CreateTexture(1024, 1024, 12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                           &tex);
         }},
        {"texture, width 0",
         [&] {
             return device_->CreateTexture(0, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex);
         }},
        {"texture, beyond the largest size",
         [&] {
             return device_->CreateTexture(1u << 20, 1024, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                           &tex);
         }},
        {"texture, render-target usage",
         [&] {
             return device_->CreateTexture(64, 64, 1, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &tex);
         }},
        {"texture, null output",
         [&] {
             return device_->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr);
         }},
        {"image surface, 16-bit",
         [&] { return device_->CreateImageSurface(640, 480, D3DFMT_R5G6B5, &surface); }},
        {"image surface, empty",
         [&] { return device_->CreateImageSurface(0, 480, D3DFMT_A8R8G8B8, &surface); }},
        {"image surface, null output",
         [&] { return device_->CreateImageSurface(640, 480, D3DFMT_A8R8G8B8, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(FAILED(c.call()));
        EXPECT_EQ(vb, nullptr);
        EXPECT_EQ(tex, nullptr);
        EXPECT_EQ(surface, nullptr);
    }
    EXPECT_EQ(device_->GetAvailableTextureMem(), memory) << "nothing half-made stays allocated";
}

TEST_F(FailureTest, LocksOutOfRange) {
    IDirect3DVertexBuffer8* vb = MakeBuffer(Quad(-1, -1, 1, 1, 5)); // 192 bytes
    ASSERT_NE(vb, nullptr);
    BYTE* data = reinterpret_cast<BYTE*>(this);
    struct LockCase {
        UINT offset, size;
        bool ok;
    } locks[] = {{0, 0, true},           {0, 192, true},    {96, 96, true},
                 {191, 1, true},         {96, 0, true},     {0, 193, false},
                 {192, 0, false},        {100, 100, false}, {0xFFFFFFFFu, 2, false},
                 {1, 0xFFFFFFFFu, false}};
    for (const LockCase& c : locks) {
        SCOPED_TRACE(testing::Message() << c.offset << " + " << c.size);
        EXPECT_EQ(SUCCEEDED(vb->Lock(c.offset, c.size, &data, 0)), c.ok);
        if (c.ok) {
            ASSERT_NE(data, nullptr);
            data[0] = data[0]; // the memory is there
            EXPECT_EQ(vb->Unlock(), D3D_OK);
        } else {
            EXPECT_EQ(data, nullptr);
        }
    }
    EXPECT_TRUE(FAILED(vb->Lock(0, 0, nullptr, 0)));
    EXPECT_TRUE(FAILED(vb->Unlock())) << "not locked";

    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture),
              D3D_OK);
    textures_.push_back(texture);
    D3DLOCKED_RECT locked{};
    EXPECT_TRUE(FAILED(texture->LockRect(11, &locked, nullptr, 0)));
    EXPECT_EQ(locked.pBits, nullptr);
    EXPECT_TRUE(FAILED(texture->LockRect(0, nullptr, nullptr, 0)));
    const RECT outside{1000, 0, 1025, 10};
    EXPECT_TRUE(FAILED(texture->LockRect(0, &locked, &outside, 0)));
    EXPECT_TRUE(FAILED(texture->UnlockRect(0))) << "not locked";
    ASSERT_EQ(texture->LockRect(10, &locked, nullptr, 0), D3D_OK) << "the 1 x 1 level";
    EXPECT_EQ(locked.Pitch, 4);
    EXPECT_TRUE(FAILED(texture->LockRect(10, &locked, nullptr, 0))) << "already locked";
    EXPECT_EQ(texture->UnlockRect(10), D3D_OK);
    const RECT inside{512, 256, 520, 260};
    ASSERT_EQ(texture->LockRect(0, &locked, &inside, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 4096);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
}

TEST_F(FailureTest, StateAndDrawingRejectWhatTheyCannotDo) {
    IDirect3DVertexBuffer8* vb = MakeBuffer(Quad(-1, -1, 1, 1, 5)); // 6 vertices
    ASSERT_NE(vb, nullptr);
    D3DMATRIX m = Identity();
    EXPECT_TRUE(FAILED(device_->SetTransform(D3DTRANSFORMSTATETYPE(16), &m)));
    EXPECT_TRUE(FAILED(device_->SetTransform(D3DTS_WORLD, nullptr)));
    EXPECT_TRUE(FAILED(device_->SetRenderState(D3DRENDERSTATETYPE(12345), 1)));
    EXPECT_TRUE(FAILED(device_->SetRenderState(D3DRS_CULLMODE, 0)));
    EXPECT_TRUE(FAILED(device_->SetTextureStageState(0, D3DTEXTURESTAGESTATETYPE(999), 1)));
    EXPECT_TRUE(FAILED(device_->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_MODULATE)));
    EXPECT_TRUE(FAILED(device_->SetMaterial(nullptr)));
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_POINT;
    light.Range = 10;
    light.Attenuation0 = 1;
    EXPECT_TRUE(FAILED(device_->SetLight(8, &light)));
    EXPECT_TRUE(FAILED(device_->SetLight(0, nullptr)));
    EXPECT_TRUE(FAILED(device_->LightEnable(3, D3D_TRUE_ALL_BITS))) << "never set";
    EXPECT_TRUE(FAILED(device_->SetStreamSource(1, vb, 32)));
    EXPECT_TRUE(FAILED(device_->SetVertexShader(0x142)));
    EXPECT_TRUE(FAILED(device_->SetTexture(0, reinterpret_cast<IDirect3DTexture8*>(vb))));
    EXPECT_TRUE(FAILED(device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0)));
    EXPECT_TRUE(FAILED(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0)));
    EXPECT_TRUE(FAILED(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 2.0f, 0)));
    EXPECT_TRUE(FAILED(device_->EndScene())) << "no scene begun";
    RECT rect{0, 0, 10, 10};
    EXPECT_TRUE(FAILED(device_->Present(&rect, nullptr, nullptr, nullptr)));

    ASSERT_EQ(device_->SetVertexShader(0x112), D3D_OK);
    ASSERT_EQ(device_->SetStreamSource(0, vb, 32), D3D_OK);
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2))) << "outside a scene";
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_TRUE(FAILED(device_->BeginScene())) << "nested scene";
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 3))) << "past the end";
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 2))) << "past the end";
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0xFFFFFFFFu, 0x555555u)));
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2)));
    BYTE* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2))) << "locked";
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(device_->SetStreamSource(0, vb, 28), D3D_OK);
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1))) << "stride";
    ASSERT_EQ(device_->SetStreamSource(0, nullptr, 32), D3D_OK);
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1))) << "no stream";
    ASSERT_EQ(device_->SetStreamSource(0, vb, 32), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);

    IDirect3DSurface8* small = nullptr;
    ASSERT_EQ(device_->CreateImageSurface(320, 240, D3DFMT_A8R8G8B8, &small), D3D_OK);
    EXPECT_TRUE(FAILED(device_->GetFrontBuffer(small))) << "not the mode's size";
    EXPECT_TRUE(FAILED(device_->GetFrontBuffer(nullptr)));
    EXPECT_EQ(small->Release(), 0u);
}

// A buffer released while the device still draws from it, and a device released while its
// resources live on: both stay safe, and the last release frees everything.
TEST_F(FailureTest, ReleaseOrderIsSafe) {
    IDirect3DVertexBuffer8* vb = MakeBuffer(Quad(-1, -1, 1, 1, 5));
    buffers_.clear();
    ASSERT_EQ(device_->SetStreamSource(0, vb, 32), D3D_OK);
    EXPECT_EQ(vb->Release(), 0u);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_TRUE(FAILED(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2))) << "no stream now";
    ASSERT_EQ(device_->EndScene(), D3D_OK);

    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(64, 64, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &texture),
              D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    EXPECT_GT(device_->Release(), 0u) << "the texture keeps its device";
    device_ = nullptr;
    EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(FailureTest, DeviceCreationRejectsBadParameters) {
    ReleaseAll();
    QWindow window;
    struct Case {
        const char* name;
        std::function<void(D3DPRESENT_PARAMETERS&, DWORD&, D3DDEVTYPE&, HWND&)> change;
    } cases[] = {
        {"both vertex processings",
         [](auto&, DWORD& f, auto&, auto&) { f |= D3DCREATE_SOFTWARE_VERTEXPROCESSING; }},
        {"no vertex processing", [](auto&, DWORD& f, auto&, auto&) { f = 0; }},
        {"mixed", [](auto&, DWORD& f, auto&, auto&) { f = D3DCREATE_MIXED_VERTEXPROCESSING; }},
        {"32-bit depth", [](D3DPRESENT_PARAMETERS& p, auto&, auto&,
                            auto&) { p.AutoDepthStencilFormat = D3DFORMAT(71); }},
        {"15-bit colour", [](D3DPRESENT_PARAMETERS& p, auto&, auto&,
                             auto&) { p.BackBufferFormat = D3DFMT_X1R5G5B5; }},
        {"empty back buffer",
         [](D3DPRESENT_PARAMETERS& p, auto&, auto&, auto&) { p.BackBufferWidth = 0; }},
        {"huge back buffer",
         [](D3DPRESENT_PARAMETERS& p, auto&, auto&, auto&) { p.BackBufferHeight = 1u << 30; }},
        {"three back buffers",
         [](D3DPRESENT_PARAMETERS& p, auto&, auto&, auto&) { p.BackBufferCount = 3; }},
        {"unknown interval", [](D3DPRESENT_PARAMETERS& p, auto&, auto&,
                                auto&) { p.FullScreen_PresentationInterval = 4; }},
        {"windowed", [](D3DPRESENT_PARAMETERS& p, auto&, auto&, auto&) { p.Windowed = 1; }},
        {"no window", [](auto&, auto&, auto&, HWND& w) { w = nullptr; }},
        {"not a window",
         [](auto&, auto&, auto&, HWND& w) { w = reinterpret_cast<HWND>(std::uintptr_t(64)); }},
        {"unknown device type", [](auto&, auto&, D3DDEVTYPE& t, auto&) { t = D3DDEVTYPE_SW; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DPRESENT_PARAMETERS pp = GoodParams();
        DWORD flags = D3DCREATE_HARDWARE_VERTEXPROCESSING;
        D3DDEVTYPE type = D3DDEVTYPE_REF;
        HWND hwnd = &window;
        c.change(pp, flags, type, hwnd);
        IDirect3DDevice8* device = nullptr;
        EXPECT_TRUE(FAILED(d3d_->CreateDevice(0, type, hwnd, flags, &pp, &device)));
        EXPECT_EQ(device, nullptr);
    }
    D3DPRESENT_PARAMETERS pp = GoodParams();
    EXPECT_TRUE(FAILED(d3d_->CreateDevice(0, D3DDEVTYPE_REF, &window,
                                          D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, nullptr)));
    EXPECT_TRUE(FAILED(d3d_->CreateDevice(0, D3DDEVTYPE_REF, &window,
                                          D3DCREATE_HARDWARE_VERTEXPROCESSING, nullptr, &device_)));
    EXPECT_TRUE(FAILED(d3d_->GetDeviceCaps(0, D3DDEVTYPE_REF, nullptr)));
    EXPECT_TRUE(FAILED(d3d_->GetAdapterDisplayMode(0, nullptr)));
    EXPECT_TRUE(FAILED(d3d_->GetAdapterIdentifier(0, 0, nullptr)));
    D3DCAPS8 caps;
    EXPECT_TRUE(FAILED(d3d_->GetDeviceCaps(1, D3DDEVTYPE_REF, &caps)));
}
