// The vertex loop, written once over a vector type and included by each instruction-set
// variant. `Ops` supplies the vector type V of W lanes and the operations the loop needs;
// vertices are handled W at a time in structure-of-arrays form.
//
// Everything here has internal linkage: each variant is compiled for its own instruction set
// and must not share code with the others through the linker.
#pragma once

#include "render/runtime/swvp/Kernel.h"

#include <cstring>

namespace {

using swvp::LitVertex;
using swvp::SourceVertex;
using swvp::detail::Prepared;
using swvp::detail::PreparedLight;

// Distances and attenuation denominators are kept above this, so a light sitting on a vertex
// or an attenuation of 0 gives a huge but finite light instead of infinities and NaNs.
constexpr float Tiny = 1e-30f;

template <class Ops>
inline void ProcessBlock(const Prepared& p, const SourceVertex* source, LitVertex* out) {
    using V = typename Ops::V;
    V in[8];
    Ops::Load(source, in);
    const V x = in[0], y = in[1], z = in[2];
    V o[8];
    for (int c = 0; c < 4; ++c)
        o[c] = Ops::Fma(x, Ops::Set(p.clip[0][c]),
                        Ops::Fma(y, Ops::Set(p.clip[1][c]),
                                 Ops::Fma(z, Ops::Set(p.clip[2][c]), Ops::Set(p.clip[3][c]))));
    o[5] = in[6];
    o[6] = in[7];
    o[7] = in[7];

    if (!p.lighting) {
        o[4] = Ops::Bits(0xFFFFFFFFu);
        Ops::Store(o, out);
        return;
    }

    V pos[3], n[3];
    for (int c = 0; c < 3; ++c) {
        pos[c] =
            Ops::Fma(x, Ops::Set(p.camera[0][c]),
                     Ops::Fma(y, Ops::Set(p.camera[1][c]),
                              Ops::Fma(z, Ops::Set(p.camera[2][c]), Ops::Set(p.camera[3][c]))));
        n[c] =
            Ops::Fma(in[3], Ops::Set(p.normal[0][c]),
                     Ops::Fma(in[4], Ops::Set(p.normal[1][c]), in[5] * Ops::Set(p.normal[2][c])));
    }
    V colour[3] = {Ops::Set(p.base[0]), Ops::Set(p.base[1]), Ops::Set(p.base[2])};
    const V tiny = Ops::Set(Tiny);
    const V zero = Ops::Set(0.0f);
    for (int l = 0; l < p.lightCount; ++l) {
        const PreparedLight& light = p.lights[l];
        const V lx = Ops::Set(light.position[0]) - pos[0];
        const V ly = Ops::Set(light.position[1]) - pos[1];
        const V lz = Ops::Set(light.position[2]) - pos[2];
        const V d2 = Ops::Max(Ops::Fma(lx, lx, Ops::Fma(ly, ly, lz * lz)), tiny);
        const V invD = Ops::Rsqrt(d2);
        const V d = d2 * invD;
        const V denominator =
            Ops::Fma(Ops::Set(light.attenuation[2]), d2,
                     Ops::Fma(Ops::Set(light.attenuation[1]), d, Ops::Set(light.attenuation[0])));
        const V atten =
            Ops::AndLessEqual(d, Ops::Set(light.range), Ops::Rcp(Ops::Max(denominator, tiny)));
        const V nDotL = Ops::Fma(n[0], lx, Ops::Fma(n[1], ly, n[2] * lz)) * invD;
        const V diffuse = Ops::Max(nDotL, zero) * atten;
        for (int c = 0; c < 3; ++c)
            colour[c] = Ops::Fma(diffuse, Ops::Set(light.diffuse[c]),
                                 Ops::Fma(atten, Ops::Set(light.ambient[c]), colour[c]));
    }
    o[4] = Ops::PackColour(colour[0], colour[1], colour[2], p.alpha);
    Ops::Store(o, out);
}

template <class Ops>
inline void ProcessAll(const Prepared& p, const SourceVertex* source, std::size_t count,
                       LitVertex* out) {
    constexpr std::size_t W = Ops::W;
    std::size_t i = 0;
    for (; i + W <= count; i += W)
        ProcessBlock<Ops>(p, source + i, out + i);
    if (i == count)
        return;
    // The last few vertices go through a full block of copies.
    SourceVertex tailIn[W] = {};
    LitVertex tailOut[W];
    std::memcpy(tailIn, source + i, (count - i) * sizeof(SourceVertex));
    ProcessBlock<Ops>(p, tailIn, tailOut);
    std::memcpy(out + i, tailOut, (count - i) * sizeof(LitVertex));
}

} // namespace
