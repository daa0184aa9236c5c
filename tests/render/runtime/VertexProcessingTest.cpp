// Hardware (GLSL) and software (CPU kernel) vertex processing draw the same picture.
#include "RuntimeFixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace rttest;

namespace {

const D3DCOLOR kQuadrants[4] = {0xFFC86432, 0xFF3CB4F0, 0xFFE0E0E0, 0xFF50A01E};

D3DMATRIX RotationY(float a) {
    D3DMATRIX m = Identity();
    m._11 = std::cos(a);
    m._13 = -std::sin(a);
    m._31 = std::sin(a);
    m._33 = std::cos(a);
    return m;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

class VertexProcessingTest : public RuntimeTest {
protected:
    // Three frames of a corridor-like scene: two tessellated walls at angles, eight point
    // lights with the benchmark's values moving around between frames. The eye is off the
    // walls' texture seams, so no row of pixel centres lies exactly on a seam (where the
    // last bit of a coordinate would pick the texel).
    std::vector<std::vector<std::uint32_t>> Render(DWORD processing) {
        std::vector<std::vector<std::uint32_t>> frames;
        if (!CreateDevice(D3DDEVTYPE_HAL, processing, 640, 480, D3DFMT_X8R8G8B8))
            return frames;
        IDirect3DVertexBuffer8* grid = MakeBuffer(Grid(-2.5f, -1.5f, 2.5f, 1.5f, 0, 12));
        IDirect3DTexture8* texture = MakeQuadrantTexture(kQuadrants);
        if (grid == nullptr || texture == nullptr)
            return frames;
        for (int frame = 0; frame < 3; ++frame) {
            BeginFrame();
            device_->SetRenderState(D3DRS_LIGHTING, 1);
            device_->SetRenderState(D3DRS_AMBIENT, 0x00CCCCCC);
            D3DMATERIAL8 material{};
            material.Diffuse = material.Ambient = {1, 1, 1, 1};
            device_->SetMaterial(&material);
            const D3DMATRIX view = Multiply(RotationY(0.1f * frame), Translation(0, -0.2f, 0.5f));
            device_->SetTransform(D3DTS_VIEW, &view);
            for (int s = 0; s < 8; ++s) {
                const float a = 0.7f * s + 0.9f * frame;
                D3DLIGHT8 light{};
                light.Type = D3DLIGHT_POINT;
                light.Diffuse = light.Specular = {1, 1, 1, 1};
                light.Ambient = {0, 0, 0, 1};
                light.Position = {2.0f * std::cos(a), 0.8f * std::sin(2 * a), 3.0f + std::sin(a)};
                light.Range = s == 7 ? 1.5f : 250.0f;
                light.Attenuation1 = 5.0f;
                device_->SetLight(DWORD(s), &light);
                device_->LightEnable(DWORD(s), D3D_TRUE_ALL_BITS);
            }
            device_->SetTexture(0, texture);
            device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
            const D3DMATRIX walls[2] = {Multiply(RotationY(0.6f), Translation(-1.8f, 0, 5)),
                                        Multiply(RotationY(-0.7f), Translation(2.2f, 0.3f, 6))};
            for (const D3DMATRIX& world : walls) {
                device_->SetTransform(D3DTS_WORLD, &world);
                Draw(grid, 0, 12 * 12 * 2);
            }
            EndFrameAndPresent();
            frames.push_back(ReadFront());
        }
        ReleaseAll();
        return frames;
    }
};

} // namespace

TEST_F(VertexProcessingTest, HardwareAndSoftwareDrawTheSamePicture) {
    TreatSoftwareAsHardware(true);
    const auto hardware = Render(D3DCREATE_HARDWARE_VERTEXPROCESSING);
    const auto software = Render(D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    ASSERT_EQ(hardware.size(), 3u);
    ASSERT_EQ(software.size(), 3u);
    for (std::size_t f = 0; f < hardware.size(); ++f) {
        SCOPED_TRACE(f);
        ASSERT_EQ(hardware[f].size(), software[f].size());
        std::size_t close = 0, lit = 0;
        int worst = 0;
        for (std::size_t i = 0; i < hardware[f].size(); ++i) {
            int diff = 0;
            for (int shift : {0, 8, 16})
                diff = std::max(diff, std::abs(int((hardware[f][i] >> shift) & 0xFF) -
                                               int((software[f][i] >> shift) & 0xFF)));
            worst = std::max(worst, diff);
            close += diff <= 2 ? 1 : 0;
            lit += (hardware[f][i] & 0xFFFFFF) != 0 ? 1 : 0;
        }
        EXPECT_GT(lit, hardware[f].size() / 10) << "the walls cover the screen";
        EXPECT_GE(double(close), 0.99 * double(hardware[f].size()));
        EXPECT_LE(worst, 8);
    }
}
