// The vertex loop for processors with AVX2 and FMA: eight vertices at a time.
#include "render/runtime/swvp/Kernel.h"

#include <cstring>
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace {

// A 4 x 4 transpose within each 128-bit lane.
inline void TransposeLanes(__m256& r0, __m256& r1, __m256& r2, __m256& r3) {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
    r0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    r1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    r2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    r3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// Vertices i and i + 4 share a register, one per 128-bit lane; then in-lane transposes give
// the fields with vertices 0..3 in the low lane and 4..7 in the high one. Only 128-bit memory
// accesses: split unaligned 256-bit ones cost more than they save.
inline __m256 Pair(const float* low, const float* high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

struct Avx2 {
    using V = __m256;
    static constexpr std::size_t W = 8;

    static V Set(float f) { return _mm256_set1_ps(f); }
    static V Bits(std::uint32_t b) { return _mm256_castsi256_ps(_mm256_set1_epi32(int(b))); }
    static V Fma(V a, V b, V c) { return _mm256_fmadd_ps(a, b, c); }
    static V Max(V a, V b) { return _mm256_max_ps(a, b); }
    // One Newton step takes the estimates to nearly full single precision.
    static V Rsqrt(V a) {
        const V r = _mm256_rsqrt_ps(a);
        return r * _mm256_fnmadd_ps(a * Set(0.5f), r * r, Set(1.5f));
    }
    static V Rcp(V a) {
        const V r = _mm256_rcp_ps(a);
        return r * _mm256_fnmadd_ps(a, r, Set(2.0f));
    }
    // v where a <= b, else 0 (also where either is NaN).
    static V AndLessEqual(V a, V b, V v) {
        return _mm256_and_ps(_mm256_cmp_ps(a, b, _CMP_LE_OQ), v);
    }
    static V PackColour(V r, V g, V b, std::uint32_t alpha) {
        const V one = Set(1.0f), zero = Set(0.0f), scale = Set(255.0f);
        // min first: a NaN becomes 1, then max keeps it; the result is always in 0..255.
        auto channel = [&](V c) {
            return _mm256_cvtps_epi32(_mm256_max_ps(_mm256_min_ps(c, one), zero) * scale);
        };
        const __m256i packed = _mm256_or_si256(
            _mm256_or_si256(channel(r), _mm256_slli_epi32(channel(g), 8)),
            _mm256_or_si256(_mm256_slli_epi32(channel(b), 16), _mm256_set1_epi32(int(alpha))));
        return _mm256_castsi256_ps(packed);
    }
    static void Load(const swvp::SourceVertex* source, V soa[8]) {
        const float* f = &source->x;
        for (int i = 0; i < 4; ++i) {
            soa[i] = Pair(f + 8 * i, f + 8 * (i + 4));
            soa[4 + i] = Pair(f + 8 * i + 4, f + 8 * (i + 4) + 4);
        }
        TransposeLanes(soa[0], soa[1], soa[2], soa[3]);
        TransposeLanes(soa[4], soa[5], soa[6], soa[7]);
    }
    // Each output vertex is 28 bytes, written as two 16-byte halves in vertex order: the second
    // half overlaps the next vertex, which is written afterwards, and the last vertex's is cut
    // to twelve bytes.
    static void Store(V soa[8], swvp::LitVertex* out) {
        TransposeLanes(soa[0], soa[1], soa[2], soa[3]);
        TransposeLanes(soa[4], soa[5], soa[6], soa[7]);
        float* f = &out->x;
        for (int i = 0; i < 4; ++i) {
            _mm_storeu_ps(f + 7 * i, _mm256_castps256_ps128(soa[i]));
            _mm_storeu_ps(f + 7 * i + 4, _mm256_castps256_ps128(soa[4 + i]));
        }
        for (int i = 0; i < 3; ++i) {
            _mm_storeu_ps(f + 7 * (i + 4), _mm256_extractf128_ps(soa[i], 1));
            _mm_storeu_ps(f + 7 * (i + 4) + 4, _mm256_extractf128_ps(soa[4 + i], 1));
        }
        _mm_storeu_ps(f + 49, _mm256_extractf128_ps(soa[3], 1));
        const __m128 last = _mm256_extractf128_ps(soa[7], 1);
        _mm_storel_pi(reinterpret_cast<__m64*>(f + 53), last);
        _mm_store_ss(f + 55, _mm_movehl_ps(last, last));
    }
};

} // namespace

#include "render/runtime/swvp/KernelBody.h"

void swvp::detail::ProcessAvx2(const Prepared& p, const SourceVertex* source, std::size_t count,
                               LitVertex* out) {
    ProcessAll<Avx2>(p, source, count, out);
}

#pragma GCC pop_options
