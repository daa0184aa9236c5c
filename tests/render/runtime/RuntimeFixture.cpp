#include "RuntimeFixture.h"

#include <QGuiApplication>
#include <cmath>
#include <cstring>
#include <dlfcn.h>

namespace rttest {

void TreatSoftwareAsHardware(bool enable) {
    void* handle = Direct3DLibraryHandle();
    ASSERT_NE(handle, nullptr);
    auto proc = reinterpret_cast<Direct3DTestSoftwareAsHardwareProc>(
        dlsym(handle, Direct3DTestSoftwareAsHardwareSymbol));
    ASSERT_NE(proc, nullptr);
    proc(enable ? 1 : 0);
}

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX Translation(float x, float y, float z) {
    D3DMATRIX m = Identity();
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

D3DMATRIX Perspective(float aspect, float zNear, float zFar) {
    D3DMATRIX m{};
    m._22 = 1.0f;
    m._11 = 1.0f / aspect;
    m._33 = zFar / (zFar - zNear);
    m._34 = 1.0f;
    m._43 = -zNear * zFar / (zFar - zNear);
    return m;
}

std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, float z, bool reversed) {
    const Vertex tl{x0, y1, z, 0, 0, -1, 0, 0}, tr{x1, y1, z, 0, 0, -1, 1, 0},
        bl{x0, y0, z, 0, 0, -1, 0, 1}, br{x1, y0, z, 0, 0, -1, 1, 1};
    if (reversed)
        return {tl, br, tr, tl, bl, br};
    return {tl, tr, br, tl, br, bl};
}

std::vector<Vertex> Grid(float x0, float y0, float x1, float y1, float z, int n) {
    std::vector<Vertex> out;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const float ax = x0 + (x1 - x0) * i / n, bx = x0 + (x1 - x0) * (i + 1) / n;
            const float ay = y0 + (y1 - y0) * j / n, by = y0 + (y1 - y0) * (j + 1) / n;
            for (Vertex v : Quad(ax, ay, bx, by, z)) {
                v.tu = (v.x - x0) / (x1 - x0);
                v.tv = (y1 - v.y) / (y1 - y0);
                out.push_back(v);
            }
        }
    return out;
}

void RuntimeTest::SetUp() {
    if (Direct3DLibraryHandle() == nullptr)
        LoadDirect3DLibrary();
    ASSERT_NE(Direct3DLibraryHandle(), nullptr) << "the runtime library next to the test";
    d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d_, nullptr);
}

void RuntimeTest::TearDown() {
    ReleaseAll();
    if (d3d_ != nullptr) {
        EXPECT_EQ(d3d_->Release(), 0u);
    }
    d3d_ = nullptr;
    if (Direct3DLibraryHandle() != nullptr)
        TreatSoftwareAsHardware(false);
}

bool RuntimeTest::CreateDevice(D3DDEVTYPE type, DWORD vertexProcessing, UINT width, UINT height,
                               D3DFORMAT format) {
    ReleaseAll();
    window_ = std::make_unique<QWindow>();
    window_->resize(304, 211);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = width;
    pp.BackBufferHeight = height;
    pp.BackBufferFormat = format;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.EnableAutoDepthStencil = D3D_TRUE_ALL_BITS;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    const HRESULT hr = d3d_->CreateDevice(0, type, window_.get(), vertexProcessing, &pp, &device_);
    EXPECT_EQ(hr, D3D_OK);
    width_ = width;
    height_ = height;
    return SUCCEEDED(hr) && device_ != nullptr;
}

void RuntimeTest::ReleaseAll() {
    // The program's order: textures from the highest, the vertex buffer, the device.
    for (auto it = textures_.rbegin(); it != textures_.rend(); ++it)
        EXPECT_EQ((*it)->Release(), 0u);
    textures_.clear();
    for (auto* buffer : buffers_)
        EXPECT_EQ(buffer->Release(), 0u);
    buffers_.clear();
    if (device_ != nullptr) {
        EXPECT_EQ(device_->Release(), 0u);
    }
    device_ = nullptr;
    window_.reset();
}

IDirect3DVertexBuffer8* RuntimeTest::MakeBuffer(const std::vector<Vertex>& vertices, D3DPOOL pool) {
    const UINT length = UINT(vertices.size() * sizeof(Vertex));
    IDirect3DVertexBuffer8* buffer = nullptr;
    EXPECT_EQ(device_->CreateVertexBuffer(length, D3DUSAGE_WRITEONLY, 0x112, pool, &buffer),
              D3D_OK);
    if (buffer == nullptr)
        return nullptr;
    BYTE* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, length, &data, 0), D3D_OK);
    if (data != nullptr)
        std::memcpy(data, vertices.data(), length);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    buffers_.push_back(buffer);
    return buffer;
}

IDirect3DTexture8* RuntimeTest::MakeQuadrantTexture(const D3DCOLOR colors[4]) {
    IDirect3DTexture8* texture = nullptr;
    EXPECT_EQ(device_->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    if (texture == nullptr)
        return nullptr;
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 4096);
    if (locked.pBits != nullptr)
        for (int y = 0; y < 1024; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(locked.pBits) +
                                                         y * locked.Pitch);
            for (int x = 0; x < 1024; ++x)
                row[x] = colors[(y >= 512 ? 2 : 0) + (x >= 512 ? 1 : 0)];
        }
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    textures_.push_back(texture);
    return texture;
}

void RuntimeTest::BeginFrame(D3DCOLOR clear) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0),
              D3D_OK);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    const D3DMATRIX identity = Identity();
    const D3DMATRIX projection = Perspective(float(width_) / float(height_), 0.5f, 250.0f);
    ASSERT_EQ(device_->SetTransform(D3DTS_PROJECTION, &projection), D3D_OK);
    ASSERT_EQ(device_->SetTransform(D3DTS_VIEW, &identity), D3D_OK);
    ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &identity), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE), D3D_OK);
    ASSERT_EQ(device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE), D3D_OK);
    ASSERT_EQ(device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT), D3D_OK);
    ASSERT_EQ(device_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT), D3D_OK);
    ASSERT_EQ(device_->SetVertexShader(0x112), D3D_OK);
}

void RuntimeTest::Draw(IDirect3DVertexBuffer8* buffer, UINT first, UINT triangles) {
    ASSERT_EQ(device_->SetStreamSource(0, buffer, 32), D3D_OK);
    ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, first, triangles), D3D_OK);
}

void RuntimeTest::EndFrameAndPresent() {
    ASSERT_EQ(device_->SetTexture(0, nullptr), D3D_OK);
    ASSERT_EQ(device_->SetStreamSource(0, nullptr, 32), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

std::vector<std::uint32_t> RuntimeTest::ReadFront() {
    std::vector<std::uint32_t> image;
    IDirect3DSurface8* surface = nullptr;
    EXPECT_EQ(device_->CreateImageSurface(width_, height_, D3DFMT_A8R8G8B8, &surface), D3D_OK);
    if (surface == nullptr)
        return image;
    EXPECT_EQ(device_->GetFrontBuffer(surface), D3D_OK);
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, width_);
    EXPECT_EQ(desc.Height, height_);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
    if (locked.pBits != nullptr) {
        image.resize(std::size_t(width_) * height_);
        for (UINT y = 0; y < height_; ++y)
            std::memcpy(&image[y * width_], static_cast<BYTE*>(locked.pBits) + y * locked.Pitch,
                        width_ * 4);
    }
    EXPECT_EQ(surface->UnlockRect(), D3D_OK);
    EXPECT_EQ(surface->Release(), 0u);
    return image;
}

Pixel RuntimeTest::At(const std::vector<std::uint32_t>& image, int x, int y) const {
    const std::uint32_t c = image.at(std::size_t(y) * width_ + std::size_t(x));
    return {int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)};
}

} // namespace rttest
