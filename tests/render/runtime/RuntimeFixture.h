// Shared set-up of the runtime tests: the real runtime library loaded as the program loads
// it, a plain QWindow as focus window, and small scenes drawn through the device.
#pragma once

#include "render/DirectXGraphics.h"

#include <QWindow>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace rttest {

struct Vertex {
    float x, y, z, nx, ny, nz, tu, tv;
};

// Turns the test-only switch of the loaded runtime on or off.
void TreatSoftwareAsHardware(bool enable);

D3DMATRIX Identity();
D3DMATRIX Translation(float x, float y, float z);
// Direct3D's left-handed perspective projection with a 90 degree vertical field of view.
D3DMATRIX Perspective(float aspect, float zNear, float zFar);

// A quad in the plane z = `z`, from (x0, y0) to (x1, y1), facing -z (towards the camera),
// wound clockwise as seen from the camera (Direct3D's front face) unless `reversed`.
// Texture v = 0 at the top (y1).
std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, float z, bool reversed = false);
// An n x n grid of such quads, as the benchmark tessellates its walls.
std::vector<Vertex> Grid(float x0, float y0, float x1, float y1, float z, int n);

struct Pixel {
    int r, g, b;
};

class RuntimeTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates a full-screen device on a fresh window; false (with a test failure) on error.
    bool CreateDevice(D3DDEVTYPE type, DWORD vertexProcessing, UINT width, UINT height,
                      D3DFORMAT format);
    void ReleaseAll();

    IDirect3DVertexBuffer8* MakeBuffer(const std::vector<Vertex>& vertices,
                                       D3DPOOL pool = D3DPOOL_MANAGED);
    // A 1024 x 1024 texture whose four quadrants have the given colours (0xAARRGGBB):
    // top-left, top-right, bottom-left, bottom-right as the image is stored (row 0 first).
    IDirect3DTexture8* MakeQuadrantTexture(const D3DCOLOR colors[4]);

    // Clear, begin, the usual fixed state (camera at the origin looking along +z).
    void BeginFrame(D3DCOLOR clear = 0);
    void EndFrameAndPresent();
    void Draw(IDirect3DVertexBuffer8* buffer, UINT first, UINT triangles);

    // GetFrontBuffer into an image surface; top-down rows of 0xAARRGGBB.
    std::vector<std::uint32_t> ReadFront();
    Pixel At(const std::vector<std::uint32_t>& image, int x, int y) const;

    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* device_ = nullptr;
    std::unique_ptr<QWindow> window_;
    std::vector<IDirect3DTexture8*> textures_;
    std::vector<IDirect3DVertexBuffer8*> buffers_;
    UINT width_ = 0, height_ = 0;
};

} // namespace rttest
