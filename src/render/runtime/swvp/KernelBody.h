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
    const tnl::Lighting& lit = p.lit;
    V colour[3] = {Ops::Set(lit.base[0]), Ops::Set(lit.base[1]), Ops::Set(lit.base[2])};
    const V tiny = Ops::Set(Tiny);
    const V zero = Ops::Set(0.0f);
    for (int l = 0; l < lit.lightCount; ++l) {
        const float* a = lit.attenuation[l]; // range, a0, a1, a2
        const V lx = Ops::Set(lit.position[l][0]) - pos[0];
        const V ly = Ops::Set(lit.position[l][1]) - pos[1];
        const V lz = Ops::Set(lit.position[l][2]) - pos[2];
        const V d2 = Ops::Max(Ops::Fma(lx, lx, Ops::Fma(ly, ly, lz * lz)), tiny);
        const V invD = Ops::Rsqrt(d2);
        const V d = d2 * invD;
        const V denominator =
            Ops::Fma(Ops::Set(a[3]), d2, Ops::Fma(Ops::Set(a[2]), d, Ops::Set(a[1])));
        const V atten = Ops::AndLessEqual(d, Ops::Set(a[0]), Ops::Rcp(Ops::Max(denominator, tiny)));
        const V nDotL = Ops::Fma(n[0], lx, Ops::Fma(n[1], ly, n[2] * lz)) * invD;
        const V diffuse = Ops::Max(nDotL, zero) * atten;
        for (int c = 0; c < 3; ++c)
            colour[c] = Ops::Fma(diffuse, Ops::Set(lit.diffuse[l][c]),
                                 Ops::Fma(atten, Ops::Set(lit.ambient[l][c]), colour[c]));
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
