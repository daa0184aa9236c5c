#include "bench/Corridor.h"

#include "render/DXGUtils.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double SceneCentre = 100.0;
constexpr double TileSize = 5.0;
constexpr double CeilingHeight = 3.0;

} // namespace

std::vector<TCorridorDraw> CorridorDraws(int detail) {
    const auto d2 = static_cast<std::uint32_t>(detail * detail);
    const std::uint32_t wallTriangles = 30 * d2;
    const std::uint32_t tileTriangles = 50 * d2;
    const std::uint32_t floorFirst = FloorBlockStart(detail);
    std::vector<TCorridorDraw> draws;

    D3DMATRIX move, turn;
    for (int ring = OuterRing; ring >= InnerRing; --ring) {
        const int n = RingWallCount(ring);
        const double radius = PolygonRadius(n);
        for (int s = 0; s < n; ++s) {
            // Wall s runs from the corner at phi to the next one clockwise, facing the centre.
            const double phi = 2 * Pi / n * (s + 0.5) + Pi / 2;
            TCorridorDraw& wall = draws.emplace_back();
            wall.Part = TCorridorPart::Wall;
            wall.Cull = ring == InnerRing ? D3DCULL_CCW : D3DCULL_CW;
            SetTranslateMatrix(move, radius * std::cos(phi) + SceneCentre, 0,
                               radius * std::sin(phi) + SceneCentre);
            SetRotateYMatrix(turn, -2 * Pi * s / n);
            MatrixMultiply(move, turn, wall.World);
            wall.Texture = WallTextureIndex(ring, s);
            wall.FirstVertex = 0;
            wall.Triangles = wallTriangles;
        }
    }

    const int tiles = TileGridSize();
    // Half a turn about Z, as the 32-bit float nearest pi: the ceiling faces down.
    SetRotateZMatrix(turn, -3.1415927f);
    for (int a = 0; a < tiles; ++a) {
        for (int b = 0; b < tiles; ++b) {
            const double x = (b - tiles / 2) * TileSize + SceneCentre;
            const double z = (a - tiles / 2) * TileSize + SceneCentre;
            TCorridorDraw& floor = draws.emplace_back();
            floor.Part = TCorridorPart::Floor;
            floor.Cull = D3DCULL_CW;
            SetTranslateMatrix(floor.World, x, 0, z);
            floor.Texture = TextureCount - 2;
            floor.FirstVertex = floorFirst;
            floor.Triangles = tileTriangles;

            TCorridorDraw& ceiling = draws.emplace_back();
            ceiling.Part = TCorridorPart::Ceiling;
            ceiling.Cull = D3DCULL_CW;
            SetTranslateMatrix(move, x, CeilingHeight, z);
            MatrixMultiply(move, turn, ceiling.World);
            ceiling.Texture = TextureCount - 1;
            ceiling.FirstVertex = floorFirst;
            ceiling.Triangles = tileTriangles;
        }
    }
    return draws;
}

D3DVECTOR CorridorLookAt(const TCorridorCamera& camera) {
    D3DVECTOR at;
    MakeVector(at, double{camera.X} + std::cos(double{camera.Yaw}), camera.Y,
               double{camera.Z} + std::sin(double{camera.Yaw}));
    return at;
}

void CorridorViewMatrix(D3DMATRIX& view, const TCorridorCamera& camera) {
    D3DVECTOR from, up;
    MakeVector(from, camera.X, camera.Y, camera.Z);
    MakeVector(up, 0, 1, 0);
    SetViewMatrix(view, from, CorridorLookAt(camera), up);
}

void CorridorProjectionMatrix(D3DMATRIX& projection) {
    SetProjectionMatrix(projection, 1.0, 0.75, 0.5, 250);
}
