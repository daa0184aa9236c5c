// The vertex loop for processors with AVX2 and FMA: eight vertices at a time.
#include "render/runtime/swvp/Kernel.h"

#include <cstring>
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,fma")

namespace {

// A vertex is eight floats in and (nearly) eight floats out, so a block of eight vertices is an
// 8 x 8 transpose either way.
inline void Transpose(__m256 r[8]) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
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
        for (int i = 0; i < 8; ++i)
            soa[i] = _mm256_loadu_ps(f + 8 * i);
        Transpose(soa);
    }
    // Each output vertex is 28 bytes: the 32-byte stores overlap the next vertex, which is
    // written afterwards, and the last one is cut to seven floats.
    static void Store(V soa[8], swvp::LitVertex* out) {
        Transpose(soa);
        float* f = &out->x;
        for (int i = 0; i < 7; ++i)
            _mm256_storeu_ps(f + 7 * i, soa[i]);
        _mm256_maskstore_ps(f + 49, _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, -1, 0), soa[7]);
    }
};

} // namespace

#include "render/runtime/swvp/KernelBody.h"

void swvp::detail::ProcessAvx2(const Prepared& p, const SourceVertex* source, std::size_t count,
                               LitVertex* out) {
    ProcessAll<Avx2>(p, source, count, out);
}

#pragma GCC pop_options
