// The vertex loop for every x86-64 processor (SSE2): four vertices at a time.
#include "render/runtime/swvp/Kernel.h"

#include <cstring>
#include <emmintrin.h>

namespace {

struct Sse2 {
    using V = __m128;
    static constexpr std::size_t W = 4;

    static V Set(float f) { return _mm_set1_ps(f); }
    static V Bits(std::uint32_t b) { return _mm_castsi128_ps(_mm_set1_epi32(int(b))); }
    static V Fma(V a, V b, V c) { return a * b + c; }
    static V Max(V a, V b) { return _mm_max_ps(a, b); }
    // One Newton step takes the estimates to nearly full single precision.
    static V Rsqrt(V a) {
        const V r = _mm_rsqrt_ps(a);
        return r * (Set(1.5f) - a * Set(0.5f) * r * r);
    }
    static V Rcp(V a) {
        const V r = _mm_rcp_ps(a);
        return r * (Set(2.0f) - a * r);
    }
    // v where a <= b, else 0 (also where either is NaN).
    static V AndLessEqual(V a, V b, V v) { return _mm_and_ps(_mm_cmple_ps(a, b), v); }
    static V PackColour(V r, V g, V b, std::uint32_t alpha) {
        const V one = Set(1.0f), zero = Set(0.0f), scale = Set(255.0f);
        // min first: a NaN becomes 1, then max keeps it; the result is always in 0..255.
        auto channel = [&](V c) {
            return _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(c, one), zero) * scale);
        };
        const __m128i packed =
            _mm_or_si128(_mm_or_si128(channel(r), _mm_slli_epi32(channel(g), 8)),
                         _mm_or_si128(_mm_slli_epi32(channel(b), 16), _mm_set1_epi32(int(alpha))));
        return _mm_castsi128_ps(packed);
    }
    static void Load(const swvp::SourceVertex* source, V soa[8]) {
        const float* f = &source->x;
        V a0 = _mm_loadu_ps(f), a1 = _mm_loadu_ps(f + 8), a2 = _mm_loadu_ps(f + 16),
          a3 = _mm_loadu_ps(f + 24);
        V b0 = _mm_loadu_ps(f + 4), b1 = _mm_loadu_ps(f + 12), b2 = _mm_loadu_ps(f + 20),
          b3 = _mm_loadu_ps(f + 28);
        _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
        _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
        soa[0] = a0, soa[1] = a1, soa[2] = a2, soa[3] = a3;
        soa[4] = b0, soa[5] = b1, soa[6] = b2, soa[7] = b3;
    }
    // Each output vertex is 28 bytes: the second 16-byte store overlaps the next vertex, which
    // is written afterwards, and the last vertex's is cut to twelve bytes.
    static void Store(V soa[8], swvp::LitVertex* out) {
        _MM_TRANSPOSE4_PS(soa[0], soa[1], soa[2], soa[3]);
        _MM_TRANSPOSE4_PS(soa[4], soa[5], soa[6], soa[7]);
        float* f = &out->x;
        for (int i = 0; i < 3; ++i) {
            _mm_storeu_ps(f + 7 * i, soa[i]);
            _mm_storeu_ps(f + 7 * i + 4, soa[4 + i]);
        }
        _mm_storeu_ps(f + 21, soa[3]);
        _mm_storel_pi(reinterpret_cast<__m64*>(f + 25), soa[7]);
        _mm_store_ss(f + 27, _mm_movehl_ps(soa[7], soa[7]));
    }
};

} // namespace

#include "render/runtime/swvp/KernelBody.h"

void swvp::detail::ProcessSse2(const Prepared& p, const SourceVertex* source, std::size_t count,
                               LitVertex* out) {
    ProcessAll<Sse2>(p, source, count, out);
}
