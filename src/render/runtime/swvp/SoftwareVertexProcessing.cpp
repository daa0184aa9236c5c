#include "render/runtime/swvp/SoftwareVertexProcessing.h"

#include "render/runtime/swvp/Kernel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace swvp {

void detail::Prepare(const DrawState& state, Prepared& p) {
    std::memcpy(p.clip, state.clipFromObject.m, sizeof p.clip);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            p.camera[i][j] = state.cameraFromObject.m[i][j];
    p.lighting = state.lighting;
    tnl::PrepareLighting(state, p.lit);
    if (!state.lighting)
        return;
    tnl::NormalMatrix(state.cameraFromObject, p.normal);
    p.alpha = static_cast<std::uint32_t>(std::lround(p.lit.base[3] * 255.0)) << 24;
}

namespace {

using Variant = void (*)(const detail::Prepared&, const SourceVertex*, std::size_t, LitVertex*);

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
    detail::Prepared p;
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
    const RangeKey key{first, count};
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
