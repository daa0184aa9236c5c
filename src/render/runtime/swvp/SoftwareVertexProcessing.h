// Software vertex processing: the CPU transform and lighting of a device created with
// D3DCREATE_SOFTWARE_VERTEXPROCESSING. It implements Direct3D 8's fixed-function model for
// what the runtime supports (FVF XYZ | NORMAL | TEX1, up to 8 point lights, material and
// global ambient, no specular) and hands OpenGL finished vertices: clip-space positions,
// clamped diffuse colours and texture coordinates.
#pragma once

#include "d3d8/D3D8.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace swvp {

// FVF 0x112 as it lies in a vertex buffer.
struct SourceVertex {
    float x, y, z;
    float nx, ny, nz;
    float tu, tv;
};
static_assert(sizeof(SourceVertex) == 32);

// What OpenGL draws: clip-space position (already in OpenGL's clip convention, whatever
// `clipFromObject` maps to), diffuse colour as bytes r, g, b, a in memory order, texture
// coordinates.
struct LitVertex {
    float x, y, z, w;
    std::uint32_t color;
    float tu, tv;
};
static_assert(sizeof(LitVertex) == 28);

// One enabled point light, already in camera (view) space.
struct PointLight {
    float position[3];
    float diffuse[3];
    float ambient[3];
    float range;
    float attenuation0, attenuation1, attenuation2;
};

// Everything a draw's vertices depend on besides the vertices themselves.
struct DrawState {
    D3DMATRIX clipFromObject;   // world x view x projection x the runtime's clip fix-up
    D3DMATRIX cameraFromObject; // world x view: lighting is done in camera space
    bool lighting;              // D3DRS_LIGHTING
    float globalAmbient[3];     // D3DRS_AMBIENT as floats
    D3DCOLORVALUE materialDiffuse, materialAmbient, materialEmissive;
    int lightCount; // enabled lights, at most 8
    PointLight lights[8];
};

// Transforms and lights `count` vertices. With lighting off the colour is opaque white, as
// Direct3D's default diffuse for a vertex without colour. Allocates nothing.
void ProcessVertices(const SourceVertex* source, std::size_t count, const DrawState& state,
                     LitVertex* out);

// Frustum rejection for a triangle list over processed vertices: copies to `out` the three
// indices of every triangle that can reach the screen, dropping those whose three vertices lie
// outside the same plane of OpenGL's clip volume (-w <= x, y, z <= w). Nothing else is
// dropped: clipping and face culling stay OpenGL's. `out` needs room for `count` indices;
// returns how many were written. A trailing partial triangle is dropped, as OpenGL would, and
// so is a triangle with an index not below `vertexCount`. Allocates nothing.
std::size_t KeepVisibleTriangles(const LitVertex* vertices, std::size_t vertexCount,
                                 const std::uint32_t* indices, std::size_t count,
                                 std::uint32_t* out);

// A draw's range of a vertex buffer: vertices [first, first + count).
struct RangeKey {
    std::size_t first, count;
    bool operator==(const RangeKey&) const = default;
};
struct RangeKeyHash {
    std::size_t operator()(const RangeKey& k) const noexcept {
        return k.first * 0x9E3779B97F4A7C15u ^ k.count;
    }
};

// A static vertex buffer's triangle lists repeat the same vertices many times (a grid of
// cells shares every corner with up to six triangles). ProcessVertices then only needs to run
// on the distinct vertices of a draw, and OpenGL draws them indexed.
class DistinctVertices {
public:
    struct Range {
        std::vector<SourceVertex> vertices; // distinct vertices of the range, first-use order
        std::vector<std::uint32_t> indices; // one per vertex of the range, into `vertices`
    };

    // Forgets every range; call when the buffer's contents change.
    void Reset(const SourceVertex* buffer, std::size_t vertexCount);
    // The distinct vertices of vertices [first, first + count) of the buffer; built on first
    // use and kept until Reset. Null when the range lies outside the buffer.
    const Range* Find(std::size_t first, std::size_t count);

private:
    const SourceVertex* buffer_ = nullptr;
    std::size_t vertexCount_ = 0;
    // Node-based, so a Range handed out stays where it is while others are added.
    std::unordered_map<RangeKey, Range, RangeKeyHash> ranges_;
};

} // namespace swvp
