// The corridor's draw list and camera, checked against the scene's geometry: where each wall
// and tile lands in the world, which texture and culling it has, and the camera's view.
#include "bench/Corridor.h"
#include "render/DXGUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;

// A point of the vertex block (row vector) in the world.
D3DVECTOR InWorld(double x, double y, double z, const D3DMATRIX& m) {
    D3DVECTOR r;
    MakeVector(r, x * m._11 + y * m._21 + z * m._31 + m._41,
               x * m._12 + y * m._22 + z * m._32 + m._42,
               x * m._13 + y * m._23 + z * m._33 + m._43);
    return r;
}

void ExpectAt(const D3DVECTOR& v, double x, double y, double z) {
    EXPECT_NEAR(v.x, x, 1e-4);
    EXPECT_NEAR(v.y, y, 1e-4);
    EXPECT_NEAR(v.z, z, 1e-4);
}

TEST(Corridor, WallsStandOnTheirRingsCornerToCorner) {
    const int d = 4;
    const std::vector<TCorridorDraw> draws = CorridorDraws(d);
    ASSERT_EQ(draws.size(), 44u + 2 * 16 * 16);

    struct Ring {
        int first, walls, number;
        D3DCULL cull;
    } const rings[] = {{0, 24, OuterRing, D3DCULL_CW}, {24, 20, InnerRing, D3DCULL_CCW}};
    for (const Ring& ring : rings) {
        const double radius = 5.0 / (2.0 * std::sin(Pi / ring.walls));
        for (int s = 0; s < ring.walls; ++s) {
            SCOPED_TRACE(testing::Message() << "ring " << ring.number << " wall " << s);
            const TCorridorDraw& wall = draws[ring.first + s];
            EXPECT_EQ(wall.Part, TCorridorPart::Wall);
            EXPECT_EQ(wall.Cull, ring.cull);
            EXPECT_EQ(wall.Texture, (s + ring.number) % 4);
            EXPECT_EQ(wall.FirstVertex, 0u);
            EXPECT_EQ(wall.Triangles, 30u * d * d);
            // The block's lower edge (0..5 along x) runs from the ring's polygon corner at
            // phi about (100, 100) to the next one clockwise; its top is 3 above.
            const double phi = 2 * Pi / ring.walls * (s + 0.5) + Pi / 2;
            const double next = phi - 2 * Pi / ring.walls;
            ExpectAt(InWorld(0, 0, 0, wall.World), 100 + radius * std::cos(phi), 0,
                     100 + radius * std::sin(phi));
            ExpectAt(InWorld(5, 3, 0, wall.World), 100 + radius * std::cos(next), 3,
                     100 + radius * std::sin(next));
            // Its normal (0, 0, -1) of the block faces the centre.
            const D3DVECTOR normal = InWorld(0, 0, -1, wall.World);
            const D3DVECTOR origin = InWorld(0, 0, 0, wall.World);
            const D3DVECTOR middle = InWorld(2.5, 0, 0, wall.World);
            const double nx = normal.x - origin.x, nz = normal.z - origin.z;
            EXPECT_GT(nx * (100 - middle.x) + nz * (100 - middle.z), 0);
        }
    }
}

TEST(Corridor, TilesCoverFloorAndCeilingAndAloneAreCounted) {
    for (const int d : {1, 4}) {
        SCOPED_TRACE(d);
        const std::vector<TCorridorDraw> draws = CorridorDraws(d);
        double floorMin[2] = {1e9, 1e9}, floorMax[2] = {-1e9, -1e9};
        double ceilingMin[2] = {1e9, 1e9}, ceilingMax[2] = {-1e9, -1e9};
        for (std::size_t i = 44; i < draws.size(); ++i) {
            const TCorridorDraw& tile = draws[i];
            const bool floor = (i - 44) % 2 == 0;
            EXPECT_EQ(tile.Part, floor ? TCorridorPart::Floor : TCorridorPart::Ceiling);
            EXPECT_EQ(tile.Cull, D3DCULL_CW);
            EXPECT_EQ(tile.Texture, floor ? 4 : 5);
            EXPECT_EQ(tile.FirstVertex, 90u * d * d);
            EXPECT_EQ(tile.Triangles, 50u * d * d);
            double* low = floor ? floorMin : ceilingMin;
            double* high = floor ? floorMax : ceilingMax;
            for (const auto& [u, w] : {std::pair{0.0, 0.0}, std::pair{5.0, 5.0}}) {
                const D3DVECTOR p = InWorld(u, 0, w, tile.World);
                EXPECT_NEAR(p.y, floor ? 0 : 3, 1e-5);
                low[0] = std::min<double>(low[0], p.x);
                low[1] = std::min<double>(low[1], p.z);
                high[0] = std::max<double>(high[0], p.x);
                high[1] = std::max<double>(high[1], p.z);
            }
            // The floor faces up, the ceiling down.
            const D3DVECTOR up = InWorld(0, 1, 0, tile.World), base = InWorld(0, 0, 0, tile.World);
            EXPECT_NEAR(up.y - base.y, floor ? 1 : -1, 1e-5);
        }
        EXPECT_NEAR(floorMin[0], 60, 1e-4);
        EXPECT_NEAR(floorMax[0], 140, 1e-4);
        EXPECT_NEAR(floorMin[1], 60, 1e-4);
        EXPECT_NEAR(floorMax[1], 140, 1e-4);
        EXPECT_NEAR(ceilingMin[0], 55, 1e-4);
        EXPECT_NEAR(ceilingMax[0], 135, 1e-4);
        EXPECT_NEAR(ceilingMin[1], 60, 1e-4);
        EXPECT_NEAR(ceilingMax[1], 140, 1e-4);
        // Only the floor and ceiling count as the frame's triangles.
        std::int64_t counted = 0;
        for (const TCorridorDraw& draw : draws)
            if (draw.Part != TCorridorPart::Wall)
                counted += draw.Triangles;
        EXPECT_EQ(counted, 25600 * d * d);
        EXPECT_EQ(FrameTriangleCount(d), 25600 * d * d);
    }
}

// The look-at point adds cos and sin of the yaw to the camera's position in double and rounds
// once: at these frames a cos or sin rounded to float first lands one unit lower or higher.
TEST(Corridor, LookAtIsRoundedOnce) {
    struct Case {
        TCorridorCamera camera;
        D3DVECTOR at;
    } const cases[] = {
        {{0x1.ccb694p+6f, 1.0f, 0x1.6fe38ep+6f, -0x1.07556cp+1f},
         {0x1.cad7d2p+6f, 1.0f, 0x1.6c5a5ep+6f}},
        {{0x1.d4a6e0p+6f, 1.0f, 0x1.8df744p+6f, -0x1.99b4eep+0f},
         {0x1.d4888cp+6f, 1.0f, 0x1.89f7b6p+6f}},
    };
    for (const Case& c : cases) {
        const D3DVECTOR at = CorridorLookAt(c.camera);
        EXPECT_EQ(at.x, c.at.x);
        EXPECT_EQ(at.y, c.at.y);
        EXPECT_EQ(at.z, c.at.z);
    }
}

TEST(Corridor, CameraLooksAlongItsPath) {
    std::int64_t e = 0;
    const auto elapsed = [&e] { return e; };
    for (e = 0; e < 7000; e += 700) {
        SCOPED_TRACE(e);
        const TCorridorCamera camera = CorridorCamera(elapsed);
        EXPECT_FLOAT_EQ(camera.Y, 1.0f);
        D3DMATRIX view;
        CorridorViewMatrix(view, camera);
        // A point on the path 100 ms ahead is in front of the camera, near the view's axis.
        e += 100;
        const TCorridorCamera ahead = CorridorCamera(elapsed);
        e -= 100;
        const D3DVECTOR p = InWorld(ahead.X, 1.0, ahead.Z, view);
        EXPECT_GT(p.z, 0.5);
        EXPECT_LT(std::abs(p.x), 0.1 * p.z);
        EXPECT_NEAR(p.y, 0, 1e-4);
    }
    // The light positions lead the camera along the same path.
    e = 1000;
    const D3DVECTOR light = CorridorLightPosition(0, elapsed);
    const TCorridorCamera camera = CorridorCamera(elapsed);
    EXPECT_EQ(light.x, camera.X);
    EXPECT_EQ(light.z, camera.Z);
    EXPECT_EQ(light.y, 1.0f);
}

} // namespace
