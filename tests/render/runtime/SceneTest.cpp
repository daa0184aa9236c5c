// Pictures drawn through the device and read back with GetFrontBuffer.
#include "RuntimeFixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>

using namespace rttest;

namespace {

// Quadrant colours of the test texture, as stored: top-left, top-right, bottom-left,
// bottom-right.
const D3DCOLOR kQuadrants[4] = {0xFFC86432, 0xFF3CB4F0, 0xFFFFFFFF, 0xFF50A01E};

D3DMATERIAL8 WhiteMaterial() {
    D3DMATERIAL8 m{};
    m.Diffuse = {1, 1, 1, 1};
    m.Ambient = {1, 1, 1, 1};
    return m;
}

D3DLIGHT8 PointLight(float x, float y, float z, float diffuse, float ambient, float range, float a0,
                     float a1, float a2) {
    D3DLIGHT8 l{};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {diffuse, diffuse, diffuse, 1};
    l.Specular = {1, 1, 1, 1};
    l.Ambient = {ambient, ambient, ambient, 1};
    l.Position = {x, y, z};
    l.Range = range;
    l.Attenuation0 = a0;
    l.Attenuation1 = a1;
    l.Attenuation2 = a2;
    return l;
}

int Channel(D3DCOLOR c, int shift) {
    return int((c >> shift) & 0xFF);
}

void ExpectNear(const Pixel& got, int r, int g, int b, int tolerance, const char* where) {
    EXPECT_LE(std::abs(got.r - r), tolerance) << where << " red " << got.r << " vs " << r;
    EXPECT_LE(std::abs(got.g - g), tolerance) << where << " green " << got.g << " vs " << g;
    EXPECT_LE(std::abs(got.b - b), tolerance) << where << " blue " << got.b << " vs " << b;
}

// Device configurations: back-buffer format and vertex processing.
class LitQuadTest : public RuntimeTest,
                    public testing::WithParamInterface<std::tuple<D3DFORMAT, DWORD>> {};

} // namespace

// A textured quad at z = 5 lit by one point light on its axis: every corner sees the light at
// the same distance, so the whole quad shows texture x (0.8 + light), and each quadrant of the
// texture lands in the matching quadrant on screen.
TEST_P(LitQuadTest, TextureTimesDirect3DLighting) {
    const auto [format, processing] = GetParam();
    TreatSoftwareAsHardware(true);
    ASSERT_TRUE(CreateDevice(D3DDEVTYPE_HAL, processing, 640, 480, format));
    IDirect3DVertexBuffer8* quad = MakeBuffer(Quad(-1, -1, 1, 1, 5));
    IDirect3DTexture8* texture = MakeQuadrantTexture(kQuadrants);
    ASSERT_TRUE(quad && texture);
    const float d = std::sqrt(6.0f); // light at (0, 0, 3), corners at (+-1, +-1, 5)
    const float nDotL = 2.0f / d;
    struct Case {
        const char* name;
        D3DLIGHT8 light;
        float level; // ambient 0.8 plus what the light adds
    } cases[] = {
        {"linear attenuation", PointLight(0, 0, 3, 0.5f, 0, 100, 0, 1, 0), 0.8f + 0.5f * nDotL / d},
        {"beyond range", PointLight(0, 0, 3, 0.5f, 0, 2.0f, 0, 1, 0), 0.8f},
        {"light ambient", PointLight(0, 0, 3, 0, 0.1f, 100, 1, 0, 0), 0.9f},
        {"quadratic attenuation", PointLight(0, 0, 3, 0.3f, 0, 100, 0, 0, 0.5f),
         0.8f + 0.3f * nDotL / (0.5f * d * d)},
        {"saturates at white", PointLight(0, 0, 3, 4.0f, 0, 100, 1, 0, 0), 1.0f},
    };
    const int tolerance = format == D3DFMT_R5G6B5 ? 7 : 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BeginFrame();
        const D3DMATERIAL8 material = WhiteMaterial();
        ASSERT_EQ(device_->SetRenderState(D3DRS_LIGHTING, 1), D3D_OK);
        ASSERT_EQ(device_->SetRenderState(D3DRS_AMBIENT, 0x00CCCCCC), D3D_OK);
        ASSERT_EQ(device_->SetMaterial(&material), D3D_OK);
        ASSERT_EQ(device_->SetLight(0, &c.light), D3D_OK);
        ASSERT_EQ(device_->LightEnable(0, D3D_TRUE_ALL_BITS), D3D_OK);
        ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
        Draw(quad, 0, 2);
        EndFrameAndPresent();
        const auto image = ReadFront();
        ASSERT_EQ(image.size(), 640u * 480u);
        // The quad spans x 272..368 and y 192..288 on screen.
        const int points[4][2] = {{296, 216}, {344, 216}, {296, 264}, {344, 264}};
        for (int q = 0; q < 4; ++q) {
            const D3DCOLOR t = kQuadrants[q];
            ExpectNear(At(image, points[q][0], points[q][1]),
                       int(std::lround(Channel(t, 16) * c.level)),
                       int(std::lround(Channel(t, 8) * c.level)),
                       int(std::lround(Channel(t, 0) * c.level)), tolerance, "quadrant");
        }
        ExpectNear(At(image, 100, 100), 0, 0, 0, 0, "background");
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, LitQuadTest,
                         testing::Combine(testing::Values(D3DFMT_X8R8G8B8, D3DFMT_R5G6B5),
                                          testing::Values(D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                                          D3DCREATE_SOFTWARE_VERTEXPROCESSING)));

using DeviceSceneTest = RuntimeTest;

// With lighting off the vertex colour is white, so the texture shows as stored; the clear
// colour fills the rest, and the picture survives a later Present only as the front buffer.
TEST_F(DeviceSceneTest, UnlitTextureAndClearColour) {
    ASSERT_TRUE(CreateDevice(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, 640, 480,
                             D3DFMT_X8R8G8B8));
    IDirect3DVertexBuffer8* quad = MakeBuffer(Quad(-1, -1, 1, 1, 5));
    IDirect3DTexture8* texture = MakeQuadrantTexture(kQuadrants);
    BeginFrame(D3DCOLOR_XRGB(20, 40, 60));
    ASSERT_EQ(device_->SetRenderState(D3DRS_LIGHTING, 0), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    Draw(quad, 0, 2);
    EndFrameAndPresent();
    auto image = ReadFront();
    ASSERT_FALSE(image.empty());
    ExpectNear(At(image, 296, 216), 200, 100, 50, 0, "top left");
    ExpectNear(At(image, 344, 264), 80, 160, 30, 0, "bottom right");
    ExpectNear(At(image, 10, 470), 20, 40, 60, 0, "clear colour");
    EXPECT_EQ(image[0] >> 24, 0xFFu);

    // The next frame is drawn in the other buffer: until it is presented the screen keeps
    // showing the last picture.
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 0, 0), 1.0f, 0),
              D3D_OK);
    image = ReadFront();
    ExpectNear(At(image, 10, 470), 20, 40, 60, 0, "still the presented picture");
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    image = ReadFront();
    ExpectNear(At(image, 10, 470), 255, 0, 0, 0, "after Present");
}

// Direct3D's winding: with the default CCW culling the clockwise (on screen) face is drawn;
// D3DCULL_CW removes it instead; D3DCULL_NONE keeps both.
TEST_F(DeviceSceneTest, CullModesRemoveTheFacesDirect3DRemoves) {
    TreatSoftwareAsHardware(true);
    for (DWORD processing :
         {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_SOFTWARE_VERTEXPROCESSING}) {
        SCOPED_TRACE(processing);
        ASSERT_TRUE(CreateDevice(D3DDEVTYPE_HAL, processing, 640, 480, D3DFMT_X8R8G8B8));
        std::vector<Vertex> both = Quad(-2, -1, -0.2f, 1, 5);          // clockwise, left
        const std::vector<Vertex> ccw = Quad(0.2f, -1, 2, 1, 5, true); // counter-clockwise, right
        both.insert(both.end(), ccw.begin(), ccw.end());
        IDirect3DVertexBuffer8* buffer = MakeBuffer(both);
        struct Case {
            DWORD cull;
            bool left, right;
        } cases[] = {
            {D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}, {D3DCULL_NONE, true, true}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.cull);
            BeginFrame();
            ASSERT_EQ(device_->SetRenderState(D3DRS_LIGHTING, 0), D3D_OK);
            ASSERT_EQ(device_->SetRenderState(D3DRS_CULLMODE, c.cull), D3D_OK);
            Draw(buffer, 0, 4);
            EndFrameAndPresent();
            const auto image = ReadFront();
            ASSERT_FALSE(image.empty());
            // Left quad around x = 320 - 66, right quad around x = 320 + 66.
            EXPECT_EQ(At(image, 254, 240).g, c.left ? 255 : 0);
            EXPECT_EQ(At(image, 386, 240).g, c.right ? 255 : 0);
        }
    }
}

// Two overlapping quads: with the z test the nearer one shows whatever the drawing order;
// without it the later one does.
TEST_F(DeviceSceneTest, DepthTestKeepsTheNearerQuad) {
    TreatSoftwareAsHardware(true);
    ASSERT_TRUE(
        CreateDevice(D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, 640, 480, D3DFMT_R5G6B5));
    std::vector<Vertex> quads = Quad(-1, -1, 1, 1, 6); // far, lit dimmer
    const std::vector<Vertex> nearQuad = Quad(-0.5f, -0.5f, 0.5f, 0.5f, 4);
    quads.insert(quads.end(), nearQuad.begin(), nearQuad.end());
    IDirect3DVertexBuffer8* buffer = MakeBuffer(quads);
    const D3DCOLOR colours[4] = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000};
    IDirect3DTexture8* red = MakeQuadrantTexture(colours);
    const D3DCOLOR greens[4] = {0xFF00FF00, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00};
    IDirect3DTexture8* green = MakeQuadrantTexture(greens);
    struct Case {
        bool zTest, nearFirst;
        bool nearShows;
    } cases[] = {
        {true, true, true}, {true, false, true}, {false, true, false}, {false, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "z " << c.zTest << " near first " << c.nearFirst);
        BeginFrame();
        ASSERT_EQ(device_->SetRenderState(D3DRS_LIGHTING, 0), D3D_OK);
        ASSERT_EQ(device_->SetRenderState(D3DRS_ZENABLE, c.zTest ? D3DZB_TRUE : D3DZB_FALSE),
                  D3D_OK);
        ASSERT_EQ(device_->SetStreamSource(0, buffer, 32), D3D_OK);
        for (int pass = 0; pass < 2; ++pass) {
            const bool drawNear = (pass == 0) == c.nearFirst;
            ASSERT_EQ(device_->SetTexture(0, drawNear ? green : red), D3D_OK);
            ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, drawNear ? 6 : 0, 2), D3D_OK);
        }
        EndFrameAndPresent();
        const auto image = ReadFront();
        ASSERT_FALSE(image.empty());
        const Pixel centre = At(image, 320, 240);
        EXPECT_EQ(centre.g, c.nearShows ? 255 : 0);
        EXPECT_EQ(centre.r, c.nearShows ? 0 : 255);
        EXPECT_EQ(At(image, 284, 240).r, 255) << "far quad around the near one";
    }
}

// A default-pool texture keeps no copy of its texels: locking part of a level and unlocking it
// must change that part only, not fill the rest of the level with what the lock handed out.
TEST_F(DeviceSceneTest, PartialLockOfDefaultPoolTextureKeepsTheRest) {
    ASSERT_TRUE(CreateDevice(D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, 640, 480,
                             D3DFMT_X8R8G8B8));
    IDirect3DVertexBuffer8* quad = MakeBuffer(Quad(-1, -1, 1, 1, 5));
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(1024, 1024, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture),
              D3D_OK);
    textures_.push_back(texture);
    const auto fill = [&](const RECT* rect, auto colorAt) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, rect, 0), D3D_OK);
        const RECT all{0, 0, 1024, 1024};
        const RECT& r = rect != nullptr ? *rect : all;
        for (LONG y = 0; y < r.bottom - r.top; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(locked.pBits) +
                                                         y * locked.Pitch);
            for (LONG x = 0; x < r.right - r.left; ++x)
                row[x] = colorAt(r.left + x, r.top + y);
        }
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    };
    fill(nullptr,
         [](LONG x, LONG y) { return kQuadrants[(y >= 512 ? 2 : 0) + (x >= 512 ? 1 : 0)]; });
    // The top-left quarter of the top-left quadrant becomes blue.
    const RECT part{0, 0, 256, 256};
    fill(&part, [](LONG, LONG) { return D3DCOLOR(0xFF0000FF); });

    BeginFrame();
    ASSERT_EQ(device_->SetRenderState(D3DRS_LIGHTING, 0), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    Draw(quad, 0, 2);
    EndFrameAndPresent();
    const auto image = ReadFront();
    ASSERT_FALSE(image.empty());
    // The quad covers pixels 272..367 x 192..287; its top-left 24 x 24 show the locked part.
    ExpectNear(At(image, 280, 200), 0, 0, 255, 0, "the locked part");
    ExpectNear(At(image, 308, 200), 200, 100, 50, 0, "top left, beside the locked part");
    ExpectNear(At(image, 280, 228), 200, 100, 50, 0, "top left, below the locked part");
    ExpectNear(At(image, 344, 216), 60, 180, 240, 0, "top right");
    ExpectNear(At(image, 344, 264), 80, 160, 30, 0, "bottom right");
}

// A buffer rewritten between frames draws its new contents on both vertex paths, however
// often it is rewritten: what a path keeps of a range (its distinct vertices, the hardware
// path's indexed copy) goes with the old contents. Each frame the quad moves to another
// quarter of the screen and nothing is left where it was.
TEST_F(DeviceSceneTest, ARewrittenBufferDrawsItsNewContents) {
    TreatSoftwareAsHardware(true);
    for (DWORD processing :
         {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_SOFTWARE_VERTEXPROCESSING}) {
        SCOPED_TRACE(processing);
        ASSERT_TRUE(CreateDevice(D3DDEVTYPE_HAL, processing, 640, 480, D3DFMT_X8R8G8B8));
        IDirect3DVertexBuffer8* buffer = MakeBuffer(Grid(-3, 0.5f, -1, 2.5f, 5, 4));
        ASSERT_NE(buffer, nullptr);
        // Centres of the quad's place each frame, in pixels: left top, right top, right
        // bottom, left bottom (the grid spans x -3..-1 or 1..3, y 0.5..2.5 or -2.5..-0.5).
        const float places[4][2] = {{-3, 0.5f}, {1, 0.5f}, {1, -2.5f}, {-3, -2.5f}};
        const int centres[4][2] = {{224, 168}, {416, 168}, {416, 312}, {224, 312}};
        for (int frame = 0; frame < 4; ++frame) {
            SCOPED_TRACE(frame);
            if (frame > 0) {
                const auto grid = Grid(places[frame][0], places[frame][1], places[frame][0] + 2,
                                       places[frame][1] + 2, 5, 4);
                BYTE* data = nullptr;
                ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
                std::memcpy(data, grid.data(), grid.size() * sizeof(Vertex));
                ASSERT_EQ(buffer->Unlock(), D3D_OK);
            }
            BeginFrame();
            ASSERT_EQ(device_->SetRenderState(D3DRS_LIGHTING, 0), D3D_OK);
            Draw(buffer, 0, 4 * 4 * 2);
            EndFrameAndPresent();
            const auto image = ReadFront();
            ASSERT_FALSE(image.empty());
            for (int place = 0; place < 4; ++place) {
                const Pixel p = At(image, centres[place][0], centres[place][1]);
                const int expected = place == frame ? 255 : 0; // white unlit quad, black clear
                EXPECT_EQ(p.r, expected) << "place " << place;
                EXPECT_EQ(p.g, expected) << "place " << place;
            }
        }
        ReleaseAll();
    }
}
