// Hardware (GLSL) and software (CPU kernel) vertex processing draw the same picture.
#include "RuntimeFixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

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

namespace {

// One frame of small quads side by side, each drawn in its own state: lighting on or off,
// 0, 3 or 8 lights with and without light ambient, a range cutting through the quad, with and
// without a texture, each colour operation. The same state twice with other lights and
// another world matrix must not draw with the first draw's values.
class StateChangeTest : public RuntimeTest {
protected:
    static constexpr D3DCOLOR kTexel = 0xFFC86432;

    struct Cell {
        const char* name;
        bool lighting;
        int lights;
        bool lightAmbient;
        bool texture;
        DWORD colorOp;
        int expected; // -1: compared between the paths only; else 0 grey 51, 1 the texel,
                      // 2 the texel x 0.2
    };
    static constexpr Cell kCells[] = {
        {"unlit", false, 0, false, true, D3DTOP_MODULATE, 1},
        {"no lights", true, 0, false, true, D3DTOP_MODULATE, 2},
        {"no texture", true, 0, false, false, D3DTOP_MODULATE, 0},
        {"texture only", true, 0, false, true, D3DTOP_SELECTARG1, 1},
        {"diffuse only", true, 0, false, true, D3DTOP_DISABLE, 0},
        {"three lights, light ambient", true, 3, true, true, D3DTOP_MODULATE, -1},
        {"eight lights", true, 8, false, true, D3DTOP_MODULATE, -1},
        {"three lights again, moved", true, 3, true, true, D3DTOP_MODULATE, -1},
    };

    static void CellCentre(int i, float& x, float& y) {
        x = -4.5f + 3.0f * float(i % 4);
        y = i < 4 ? 2.0f : -2.0f;
    }

    std::vector<std::vector<std::uint32_t>> Render(DWORD processing) {
        std::vector<std::vector<std::uint32_t>> frames;
        if (!CreateDevice(D3DDEVTYPE_HAL, processing, 640, 480, D3DFMT_X8R8G8B8))
            return frames;
        IDirect3DVertexBuffer8* grid = MakeBuffer(Grid(-1, -1, 1, 1, 0, 6));
        const D3DCOLOR texels[4] = {kTexel, kTexel, kTexel, kTexel};
        IDirect3DTexture8* texture = MakeQuadrantTexture(texels);
        if (grid == nullptr || texture == nullptr)
            return frames;
        D3DMATERIAL8 material{};
        material.Diffuse = material.Ambient = {1, 1, 1, 1};
        // Two frames from slightly different eyes, so every program sees new matrices.
        for (int frame = 0; frame < 2; ++frame) {
            BeginFrame();
            const D3DMATRIX view = Translation(0.1f * float(frame), 0, 0);
            device_->SetTransform(D3DTS_VIEW, &view);
            device_->SetRenderState(D3DRS_AMBIENT, 0x00333333); // dim: lights stay unsaturated
            device_->SetMaterial(&material);
            for (int i = 0; i < int(std::size(kCells)); ++i) {
                const Cell& c = kCells[i];
                float x = 0, y = 0;
                CellCentre(i, x, y);
                for (int l = 0; l < 8; ++l) {
                    const float a = 0.9f * float(l + i);
                    D3DLIGHT8 light{};
                    light.Type = D3DLIGHT_POINT;
                    light.Diffuse = {0.3f, 0.25f, 0.2f, 1};
                    const float ambient = c.lightAmbient && l == 0 ? 0.3f : 0.0f;
                    light.Ambient = {ambient, ambient, ambient, 1};
                    light.Position = {x + std::cos(a), y + std::sin(a), 3.5f};
                    light.Range = l == 1 ? 2.0f : 100.0f; // cuts through the quad
                    light.Attenuation0 = 0.2f;
                    light.Attenuation1 = 0.5f;
                    light.Attenuation2 = 0.05f * float(l);
                    device_->SetLight(DWORD(l), &light);
                    device_->LightEnable(DWORD(l), l < c.lights ? D3D_TRUE_ALL_BITS : FALSE_);
                }
                device_->SetRenderState(D3DRS_LIGHTING, c.lighting ? 1 : 0);
                device_->SetTexture(0, c.texture ? texture : nullptr);
                device_->SetTextureStageState(0, D3DTSS_COLOROP, c.colorOp);
                const D3DMATRIX world = Translation(x, y, 5);
                device_->SetTransform(D3DTS_WORLD, &world);
                Draw(grid, 0, 6 * 6 * 2);
            }
            EndFrameAndPresent();
            frames.push_back(ReadFront());
        }
        ReleaseAll();
        return frames;
    }
};

} // namespace

TEST_F(StateChangeTest, EachDrawUsesItsOwnState) {
    TreatSoftwareAsHardware(true);
    const auto hardware = Render(D3DCREATE_HARDWARE_VERTEXPROCESSING);
    const auto software = Render(D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    ASSERT_EQ(hardware.size(), 2u);
    ASSERT_EQ(software.size(), 2u);
    const int texel[3] = {0xC8, 0x64, 0x32};
    for (std::size_t f = 0; f < hardware.size(); ++f) {
        for (int i = 0; i < int(std::size(kCells)); ++i) {
            const Cell& c = kCells[i];
            SCOPED_TRACE(testing::Message() << "frame " << f << ", " << c.name);
            float x = 0, y = 0;
            CellCentre(i, x, y);
            // The cell's 2 x 2 units at z = 5 cover 96 x 96 pixels; its inner 80 x 80 are
            // compared, clear of the edges that move with the eye.
            const int cx = 320 + int(std::lround((x - 0.1f * float(f)) * 48)),
                      cy = 240 - int(std::lround(y * 48));
            int worst = 0;
            for (int py = cy - 40; py < cy + 40; ++py)
                for (int px = cx - 40; px < cx + 40; ++px) {
                    const Pixel h = At(hardware[f], px, py), s = At(software[f], px, py);
                    worst = std::max(
                        {worst, std::abs(h.r - s.r), std::abs(h.g - s.g), std::abs(h.b - s.b)});
                }
            EXPECT_LE(worst, 2) << "hardware against software";
            if (c.expected < 0)
                continue;
            for (const auto& picture : {hardware[f], software[f]}) {
                const Pixel p = At(picture, cx - 20, cy - 20);
                const int got[3] = {p.r, p.g, p.b};
                for (int k = 0; k < 3; ++k) {
                    const int want = c.expected == 0   ? 51
                                     : c.expected == 1 ? texel[k]
                                                       : int(std::lround(texel[k] * 0.2));
                    EXPECT_LE(std::abs(got[k] - want), 1) << "channel " << k;
                }
            }
        }
    }
}

namespace {

// A lit, untextured quad whose transform is ordinary, singular, or has a determinant far below
// float's range though its normals are well defined. Both paths take the normal matrix from
// one routine, so they light each case alike: no normals where the transform is singular, the
// (huge, not renormalised) normals of the inverse transpose where it is merely small.
class NormalMatrixPathsTest : public RuntimeTest {
protected:
    struct Case {
        const char* name;
        float scale;  // the whole scene, eye space included, shrunk by this
        float squash; // the quad's own z axis scaled by this (the quad lies in z = 0)
        int expected; // grey level at the quad's centre
    };

    int Render(DWORD processing, const Case& c) {
        if (!CreateDevice(D3DDEVTYPE_HAL, processing, 640, 480, D3DFMT_X8R8G8B8))
            return -1;
        IDirect3DVertexBuffer8* quad = MakeBuffer(Quad(-1, -1, 1, 1, 0));
        if (quad == nullptr)
            return -1;
        BeginFrame();
        const float k = c.scale;
        const D3DMATRIX projection = Perspective(640.0f / 480.0f, 0.5f * k, 250.0f * k);
        device_->SetTransform(D3DTS_PROJECTION, &projection);
        D3DMATRIX world = Translation(0, 0, 5 * k);
        world._11 = world._22 = k;
        world._33 = k * c.squash;
        device_->SetTransform(D3DTS_WORLD, &world);
        device_->SetRenderState(D3DRS_LIGHTING, 1);
        device_->SetRenderState(D3DRS_AMBIENT, 0x00333333);
        D3DMATERIAL8 material{};
        material.Diffuse = material.Ambient = {1, 1, 1, 1};
        device_->SetMaterial(&material);
        D3DLIGHT8 light{};
        light.Type = D3DLIGHT_POINT;
        light.Diffuse = {0.5f, 0.5f, 0.5f, 1};
        light.Position = {0, 0, -1}; // behind the eye, on the quad's axis
        light.Range = 100;
        light.Attenuation0 = 1;
        device_->SetLight(0, &light);
        device_->LightEnable(0, D3D_TRUE_ALL_BITS);
        Draw(quad, 0, 2);
        EndFrameAndPresent();
        const auto image = ReadFront();
        ReleaseAll();
        if (image.empty())
            return -1;
        const Pixel p = At(image, 320, 240);
        EXPECT_EQ(p.r, p.g);
        EXPECT_EQ(p.g, p.b);
        return p.g;
    }
};

} // namespace

TEST_F(NormalMatrixPathsTest, BothPathsLightSingularAndTinyTransformsAlike) {
    TreatSoftwareAsHardware(true);
    const Case cases[] = {
        // 0.2 ambient + 0.5 x the light, which the corners see at cos = 6 / sqrt(38).
        {"ordinary", 1.0f, 1.0f, 175},
        // Singular: the normals vanish, ambient is left.
        {"singular", 1.0f, 0.0f, 51},
        // Determinant 1e-51, zero in float: the normals are 1e17 long and saturate.
        {"tiny determinant", 1e-17f, 1.0f, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int hardware = Render(D3DCREATE_HARDWARE_VERTEXPROCESSING, c);
        const int software = Render(D3DCREATE_SOFTWARE_VERTEXPROCESSING, c);
        EXPECT_LE(std::abs(hardware - software), 1) << hardware << " vs " << software;
        EXPECT_LE(std::abs(hardware - c.expected), 2) << "hardware " << hardware;
        EXPECT_LE(std::abs(software - c.expected), 2) << "software " << software;
    }
}
