#include "render/runtime/swvp/SoftwareVertexProcessing.h"

#include "render/runtime/swvp/Kernel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace swvp {

namespace {

using detail::Prepared;

float Clamp01(double v) {
    return static_cast<float>(std::clamp(v, 0.0, 1.0));
}

// The normal matrix: inverse transpose of the upper 3 x 3, which is the cofactor matrix over
// the determinant. A singular transform flattens the geometry and has no normals to speak
// of; its normals become zero, leaving the emissive and ambient terms.
void NormalMatrix(const D3DMATRIX& m, float out[3][3]) {
    const auto e = [&](int i, int j) { return double(m.m[i][j]); };
    double cof[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            cof[i][j] = e(i1, j1) * e(i2, j2) - e(i1, j2) * e(i2, j1);
        }
    const double det = e(0, 0) * cof[0][0] + e(0, 1) * cof[0][1] + e(0, 2) * cof[0][2];
    const bool usable = det != 0.0 && std::isfinite(det);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = usable ? static_cast<float>(cof[i][j] / det) : 0.0f;
}

} // namespace

void detail::Prepare(const DrawState& state, Prepared& p) {
    std::memcpy(p.clip, state.clipFromObject.m, sizeof p.clip);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            p.camera[i][j] = state.cameraFromObject.m[i][j];
    p.lighting = state.lighting;
    p.lightCount = state.lighting ? std::clamp(state.lightCount, 0, 8) : 0;
    if (!state.lighting)
        return;
    NormalMatrix(state.cameraFromObject, p.normal);
    const D3DCOLORVALUE& md = state.materialDiffuse;
    const D3DCOLORVALUE& ma = state.materialAmbient;
    const D3DCOLORVALUE& me = state.materialEmissive;
    const double diffuse[3] = {md.r, md.g, md.b};
    const double ambient[3] = {ma.r, ma.g, ma.b};
    const double emissive[3] = {me.r, me.g, me.b};
    for (int c = 0; c < 3; ++c)
        p.base[c] = static_cast<float>(emissive[c] + ambient[c] * state.globalAmbient[c]);
    p.alpha = static_cast<std::uint32_t>(std::lround(Clamp01(md.a) * 255.0)) << 24;
    for (int l = 0; l < p.lightCount; ++l) {
        const PointLight& in = state.lights[l];
        detail::PreparedLight& out = p.lights[l];
        for (int c = 0; c < 3; ++c) {
            out.position[c] = in.position[c];
            out.diffuse[c] = static_cast<float>(diffuse[c] * in.diffuse[c]);
            out.ambient[c] = static_cast<float>(ambient[c] * in.ambient[c]);
        }
        out.range = in.range;
        out.attenuation[0] = in.attenuation0;
        out.attenuation[1] = in.attenuation1;
        out.attenuation[2] = in.attenuation2;
    }
}

namespace {

using Variant = void (*)(const Prepared&, const SourceVertex*, std::size_t, LitVertex*);

Variant ChooseVariant() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return detail::ProcessAvx2;
    return detail::ProcessSse2;
}

} // namespace

void ProcessVertices(const SourceVertex* source, std::size_t count, const DrawState& state,
                     LitVertex* out) {
    if (count == 0)
        return;
    // Chosen on first use, so callers in other static initialisers find it ready.
    static const Variant process = ChooseVariant();
    Prepared p;
    detail::Prepare(state, p);
    process(p, source, count, out);
}

namespace {

// One bit per clip plane the vertex lies outside of.
inline unsigned Outcode(const LitVertex& v) {
    return unsigned(v.x < -v.w) | unsigned(v.x > v.w) << 1 | unsigned(v.y < -v.w) << 2 |
           unsigned(v.y > v.w) << 3 | unsigned(v.z < -v.w) << 4 | unsigned(v.z > v.w) << 5;
}

} // namespace

std::size_t KeepVisibleTriangles(const LitVertex* vertices, std::size_t vertexCount,
                                 const std::uint32_t* indices, std::size_t count,
                                 std::uint32_t* out) {
    // Outcodes once per vertex where a small table holds them, else per use.
    constexpr std::size_t TableSize = 4096;
    std::uint8_t table[TableSize];
    const bool tabled = vertexCount <= TableSize;
    if (tabled)
        for (std::size_t i = 0; i < vertexCount; ++i)
            table[i] = static_cast<std::uint8_t>(Outcode(vertices[i]));
    const auto code = [&](std::uint32_t i) {
        return tabled ? unsigned(table[i]) : Outcode(vertices[i]);
    };
    std::size_t written = 0;
    for (std::size_t t = 0; t + 3 <= count; t += 3) {
        const std::uint32_t a = indices[t], b = indices[t + 1], c = indices[t + 2];
        if (a >= vertexCount || b >= vertexCount || c >= vertexCount)
            continue;
        if ((code(a) & code(b) & code(c)) != 0)
            continue;
        out[written] = a;
        out[written + 1] = b;
        out[written + 2] = c;
        written += 3;
    }
    return written;
}

void DistinctVertices::Reset(const SourceVertex* buffer, std::size_t vertexCount) {
    buffer_ = buffer;
    vertexCount_ = buffer != nullptr ? vertexCount : 0;
    ranges_.clear();
}

const DistinctVertices::Range* DistinctVertices::Find(std::size_t first, std::size_t count) {
    if (first > vertexCount_ || count > vertexCount_ - first)
        return nullptr;
    const Key key{first, count};
    if (const auto found = ranges_.find(key); found != ranges_.end())
        return &found->second;

    // Open addressing over the vertices' bytes; slots hold index + 1, 0 is empty.
    const SourceVertex* vertices = buffer_ + first;
    const std::size_t slotCount = std::bit_ceil(std::max<std::size_t>(count * 2, 16));
    std::vector<std::uint32_t> slots(slotCount, 0);
    Range range;
    range.indices.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const SourceVertex& v = vertices[i];
        std::uint64_t words[4];
        std::memcpy(words, &v, sizeof words);
        std::uint64_t h = 0xCBF29CE484222325u;
        for (std::uint64_t w : words)
            h = (h ^ w) * 0x100000001B3u ^ (h >> 29);
        std::size_t slot = h & (slotCount - 1);
        while (true) {
            const std::uint32_t held = slots[slot];
            if (held == 0) {
                slots[slot] = static_cast<std::uint32_t>(range.vertices.size() + 1);
                range.indices.push_back(static_cast<std::uint32_t>(range.vertices.size()));
                range.vertices.push_back(v);
                break;
            }
            if (std::memcmp(&range.vertices[held - 1], &v, sizeof v) == 0) {
                range.indices.push_back(held - 1);
                break;
            }
            slot = (slot + 1) & (slotCount - 1);
        }
    }
    return &ranges_.emplace(key, std::move(range)).first->second;
}

} // namespace swvp
