#include "render/runtime/swvp/SoftwareVertexProcessing.h"
#include "render/runtime/swvp/Kernel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace swvp;

namespace {

// ---- A plain double-precision model of Direct3D 8's fixed-function vertex processing -------

struct Expected {
    double position[4];
    int rgba[4];
    float tu, tv;
};

// Inverse by Gauss-Jordan with partial pivoting; false when singular.
bool Invert3(const double in[3][3], double out[3][3]) {
    double a[3][6];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 6; ++j)
            a[i][j] = j < 3 ? in[i][j] : (j - 3 == i ? 1.0 : 0.0);
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c]))
                pivot = r;
        if (a[pivot][c] == 0.0)
            return false;
        std::swap(a[c], a[pivot]);
        const double d = a[c][c];
        for (double& e : a[c])
            e /= d;
        for (int r = 0; r < 3; ++r)
            if (r != c) {
                const double f = a[r][c];
                for (int j = 0; j < 6; ++j)
                    a[r][j] -= f * a[c][j];
            }
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = a[i][j + 3];
    return true;
}

Expected Reference(const SourceVertex& v, const DrawState& s) {
    Expected e{};
    const double in[4] = {v.x, v.y, v.z, 1.0};
    for (int c = 0; c < 4; ++c)
        for (int k = 0; k < 4; ++k)
            e.position[c] += in[k] * s.clipFromObject.m[k][c];
    e.tu = v.tu;
    e.tv = v.tv;
    if (!s.lighting) {
        e.rgba[0] = e.rgba[1] = e.rgba[2] = e.rgba[3] = 255;
        return e;
    }
    double p[3] = {};
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 4; ++k)
            p[c] += in[k] * s.cameraFromObject.m[k][c];
    double m3[3][3], inverse[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m3[i][j] = s.cameraFromObject.m[i][j];
    const bool invertible = Invert3(m3, inverse);
    // n = normal x (M^-1)^T, that is n_j = sum_i normal_i inverse[j][i].
    const double normal[3] = {v.nx, v.ny, v.nz};
    double n[3] = {};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            n[j] += invertible ? normal[i] * inverse[j][i] : 0.0;

    const D3DCOLORVALUE& md = s.materialDiffuse;
    const D3DCOLORVALUE& ma = s.materialAmbient;
    const D3DCOLORVALUE& me = s.materialEmissive;
    const double dm[3] = {md.r, md.g, md.b}, am[3] = {ma.r, ma.g, ma.b};
    double colour[3] = {me.r + ma.r * s.globalAmbient[0], me.g + ma.g * s.globalAmbient[1],
                        me.b + ma.b * s.globalAmbient[2]};
    for (int l = 0; l < s.lightCount; ++l) {
        const PointLight& light = s.lights[l];
        double toLight[3], d2 = 0;
        for (int c = 0; c < 3; ++c) {
            toLight[c] = light.position[c] - p[c];
            d2 += toLight[c] * toLight[c];
        }
        const double d = std::sqrt(d2);
        if (d > light.range)
            continue;
        const double atten =
            1.0 / (light.attenuation0 + light.attenuation1 * d + light.attenuation2 * d2);
        const double nDotL = (n[0] * toLight[0] + n[1] * toLight[1] + n[2] * toLight[2]) / d;
        for (int c = 0; c < 3; ++c)
            colour[c] += atten * (dm[c] * light.diffuse[c] * std::max(0.0, nDotL) +
                                  am[c] * light.ambient[c]);
    }
    for (int c = 0; c < 3; ++c)
        e.rgba[c] = int(std::lround(std::clamp(colour[c], 0.0, 1.0) * 255));
    e.rgba[3] = int(std::lround(std::clamp(double(md.a), 0.0, 1.0) * 255));
    return e;
}

// ---- Random scenes ---------------------------------------------------------------------------

struct Scene {
    std::mt19937 rng;
    explicit Scene(unsigned seed) : rng(seed) {}
    float Uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

    D3DMATRIX Matrix(bool projective) {
        D3DMATRIX m;
        for (auto& row : m.m)
            for (float& e : row)
                e = Uniform(-2.0f, 2.0f);
        if (!projective) {
            m._14 = m._24 = m._34 = 0.0f;
            m._44 = 1.0f;
        }
        return m;
    }
    D3DCOLORVALUE Colour(float lo = 0.0f, float hi = 1.0f) {
        return {Uniform(lo, hi), Uniform(lo, hi), Uniform(lo, hi), Uniform(0.0f, 1.0f)};
    }
    DrawState State(int lightCount) {
        DrawState s{};
        s.clipFromObject = Matrix(true);
        s.cameraFromObject = Matrix(false);
        s.lighting = true;
        for (float& a : s.globalAmbient)
            a = Uniform(0.0f, 0.6f);
        s.materialDiffuse = Colour();
        s.materialAmbient = Colour();
        s.materialEmissive = Colour(0.0f, 0.2f);
        s.lightCount = lightCount;
        for (int l = 0; l < lightCount; ++l) {
            PointLight& light = s.lights[l];
            for (int c = 0; c < 3; ++c) {
                light.position[c] = Uniform(-12.0f, 12.0f);
                light.diffuse[c] = Uniform(0.0f, 1.0f);
                light.ambient[c] = Uniform(0.0f, 0.3f);
            }
            light.range = Uniform(2.0f, 30.0f);
            light.attenuation0 = Uniform(0.2f, 1.0f);
            light.attenuation1 = Uniform(0.0f, 0.5f);
            light.attenuation2 = Uniform(0.0f, 0.1f);
        }
        return s;
    }
    std::vector<SourceVertex> Vertices(std::size_t count) {
        std::vector<SourceVertex> v(count);
        for (SourceVertex& s : v)
            s = {Uniform(-5, 5), Uniform(-5, 5), Uniform(-5, 5), Uniform(-1, 1),
                 Uniform(-1, 1), Uniform(-1, 1), Uniform(0, 1),  Uniform(0, 1)};
        return v;
    }
};

int Channel(std::uint32_t colour, int c) {
    return int((colour >> (8 * c)) & 0xFF);
}

// The variants the machine can run: the dispatching entry point and each instruction set.
using Runner = void (*)(const SourceVertex*, std::size_t, const DrawState&, LitVertex*);
struct Variant {
    const char* name;
    Runner run;
};
std::vector<Variant> Variants() {
    std::vector<Variant> v = {
        {"dispatch", ProcessVertices},
        {"sse2",
         [](const SourceVertex* s, std::size_t n, const DrawState& st, LitVertex* o) {
             detail::Prepared p;
             detail::Prepare(st, p);
             detail::ProcessSse2(p, s, n, o);
         }},
    };
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        v.push_back(
            {"avx2", [](const SourceVertex* s, std::size_t n, const DrawState& st, LitVertex* o) {
                 detail::Prepared p;
                 detail::Prepare(st, p);
                 detail::ProcessAvx2(p, s, n, o);
             }});
    return v;
}

// Runs a variant into a buffer with guard vertices on both sides, and checks that exactly
// `count` vertices were written.
std::vector<LitVertex> RunGuarded(const Variant& variant, const std::vector<SourceVertex>& in,
                                  const DrawState& state) {
    constexpr std::size_t Guard = 9;
    std::vector<LitVertex> buffer(in.size() + 2 * Guard);
    std::memset(buffer.data(), 0xA5, buffer.size() * sizeof(LitVertex));
    variant.run(in.data(), in.size(), state, buffer.data() + Guard);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    const std::size_t guardBytes = Guard * sizeof(LitVertex);
    const std::size_t tail = (Guard + in.size()) * sizeof(LitVertex);
    for (std::size_t i = 0; i < guardBytes; ++i) {
        EXPECT_EQ(bytes[i], 0xA5) << variant.name << ": wrote before the output";
        EXPECT_EQ(bytes[tail + i], 0xA5) << variant.name << ": wrote past the output";
    }
    return {buffer.begin() + Guard, buffer.end() - Guard};
}

void ExpectMatches(const std::vector<SourceVertex>& in, const std::vector<LitVertex>& out,
                   const DrawState& state) {
    for (std::size_t i = 0; i < in.size(); ++i) {
        SCOPED_TRACE("vertex " + std::to_string(i));
        const Expected e = Reference(in[i], state);
        const float got[4] = {out[i].x, out[i].y, out[i].z, out[i].w};
        const double v[4] = {in[i].x, in[i].y, in[i].z, 1.0};
        for (int c = 0; c < 4; ++c) {
            // Relative to the size of the terms, so cancellation does not make it meaningless.
            double scale = 0;
            for (int k = 0; k < 4; ++k)
                scale += std::fabs(v[k] * state.clipFromObject.m[k][c]);
            EXPECT_NEAR(got[c], e.position[c], 1e-5 * scale) << "coordinate " << c;
        }
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(Channel(out[i].color, c), e.rgba[c], 1) << "channel " << c;
        EXPECT_EQ(out[i].tu, e.tu);
        EXPECT_EQ(out[i].tv, e.tv);
    }
}

// Part of the benchmark's floor: a 5 x 5 square in the plane y = 0 of 5d x 5d cells, six
// vertices a cell; the wall is 5 x 3 in the plane z = 0.
std::vector<SourceVertex> Block(int d, bool floor) {
    const int columns = 5 * d, rows = floor ? 5 * d : 3 * d;
    auto vertex = [&](int i, int j) {
        const float a = float(double(i) / d), b = float(double(j) / d);
        const float u = float(double(i) / (5 * d)), t = float(double(j) / rows);
        return floor ? SourceVertex{a, 0, b, 0, 1, 0, u, t} : SourceVertex{a, b, 0, 0, 0, -1, u, t};
    };
    std::vector<SourceVertex> out;
    for (int l = 0; l < columns; ++l)
        for (int m = 0; m < rows; ++m)
            for (auto [i, j] : {std::pair{l, m}, std::pair{l + 1, m}, std::pair{l, m + 1},
                                std::pair{l, m + 1}, std::pair{l + 1, m}, std::pair{l + 1, m + 1}})
                out.push_back(vertex(i, j));
    return out;
}

DrawState OneLight(float range, float a0, float a1, float a2) {
    DrawState s{};
    s.clipFromObject = s.cameraFromObject = {};
    for (int i = 0; i < 4; ++i)
        s.clipFromObject.m[i][i] = s.cameraFromObject.m[i][i] = 1.0f;
    s.lighting = true;
    s.materialDiffuse = {1, 1, 1, 1};
    s.materialAmbient = {1, 1, 1, 1};
    s.lightCount = 1;
    s.lights[0] = {{0, 0, 0}, {1, 1, 1}, {0, 0, 0}, range, a0, a1, a2};
    return s;
}

} // namespace

// ---- ProcessVertices -------------------------------------------------------------------------

TEST(SoftwareVertexProcessing, MatchesTheDoublePrecisionModel) {
    // Counts around every SIMD width, with every number of lights.
    const std::size_t counts[] = {0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 100, 1001};
    unsigned seed = 1;
    for (const Variant& variant : Variants())
        for (std::size_t count : counts)
            for (int lights = 0; lights <= 8; lights += (count < 100 ? 4 : 1)) {
                SCOPED_TRACE(std::string(variant.name) + ", " + std::to_string(count) +
                             " vertices, " + std::to_string(lights) + " lights");
                Scene scene(seed++);
                const DrawState state = scene.State(lights);
                const std::vector<SourceVertex> in = scene.Vertices(count);
                ExpectMatches(in, RunGuarded(variant, in, state), state);
                if (HasFailure())
                    return;
            }
}

TEST(SoftwareVertexProcessing, BenchmarkSceneMatchesTheModel) {
    // The real load: a floor tile seen by the camera, lit by eight lights of range 250 and
    // attenuation 1 / (5 d), white material, ambient 0xCCCCCC.
    Scene scene(99);
    DrawState state = scene.State(8);
    state.cameraFromObject = {};
    state.cameraFromObject._11 = state.cameraFromObject._33 = -1.0f;
    state.cameraFromObject._22 = state.cameraFromObject._44 = 1.0f;
    state.cameraFromObject._41 = 7.0f;
    state.cameraFromObject._42 = -1.0f;
    state.cameraFromObject._43 = 12.0f;
    state.materialDiffuse = state.materialAmbient = {1, 1, 1, 1};
    state.materialEmissive = {0, 0, 0, 0};
    state.globalAmbient[0] = state.globalAmbient[1] = state.globalAmbient[2] = 0.8f;
    for (int l = 0; l < 8; ++l)
        state.lights[l] = {{float(l) - 4.0f, 0.0f, float(l)}, {1, 1, 1}, {0, 0, 0}, 250, 0, 5, 0};
    const std::vector<SourceVertex> in = Block(4, true);
    for (const Variant& variant : Variants()) {
        SCOPED_TRACE(variant.name);
        ExpectMatches(in, RunGuarded(variant, in, state), state);
    }
}

TEST(SoftwareVertexProcessing, LightingCases) {
    // One white light at the camera-space origin, white material, no ambient; the vertex is
    // on the +z axis facing the light unless the case says otherwise.
    struct Case {
        const char* name;
        DrawState state;
        SourceVertex vertex;
        int rgb; // expected red = green = blue
        int alpha;
    };
    auto with = [](DrawState s, auto change) {
        change(s);
        return s;
    };
    const SourceVertex facing{0, 0, 4, 0, 0, -1, 0.25f, 0.5f};
    const Case cases[] = {
        {"inside the range: 1 / (1 + 0.5 x 4)", OneLight(4.001f, 1, 0.5f, 0), facing, 85, 255},
        {"just beyond the range: no light", OneLight(3.999f, 1, 0.5f, 0), facing, 0, 255},
        {"beyond the range the light's ambient goes too",
         with(OneLight(3.999f, 1, 0, 0), [](DrawState& s) { s.lights[0].ambient[0] = 1; }), facing,
         0, 255},
        {"quadratic attenuation", OneLight(100, 0, 0, 1.0f / 16), facing, 255, 255},
        {"facing away: ambient of the light only",
         with(OneLight(100, 1, 0, 0),
              [](DrawState& s) {
                  s.lights[0].ambient[0] = s.lights[0].ambient[1] = s.lights[0].ambient[2] = 0.4f;
              }),
         SourceVertex{0, 0, 4, 0, 0, 1, 0, 0}, 102, 255},
        {"sideways normal", OneLight(100, 1, 0, 0), SourceVertex{0, 0, 4, 1, 0, 0, 0, 0}, 0, 255},
        {"too bright clamps to 255",
         with(OneLight(100, 0.1f, 0, 0), [](DrawState& s) { s.materialDiffuse.a = 2.0f; }), facing,
         255, 255},
        {"negative emissive clamps to 0",
         with(OneLight(100, 1, 0, 0),
              [](DrawState& s) {
                  s.materialEmissive = {-3, -3, -3, 0};
                  s.materialDiffuse.a = -1.0f;
              }),
         facing, 0, 0},
        {"emissive plus global ambient, no lights",
         with(OneLight(100, 1, 0, 0),
              [](DrawState& s) {
                  s.lightCount = 0;
                  s.materialEmissive = {0.1f, 0.1f, 0.1f, 0};
                  s.materialAmbient = {0.5f, 0.5f, 0.5f, 1};
                  s.globalAmbient[0] = s.globalAmbient[1] = s.globalAmbient[2] = 0.6f;
                  s.materialDiffuse.a = 0.6f;
              }),
         facing, 102, 153},
        {"lighting off is opaque white",
         with(OneLight(3.999f, 1, 0, 0),
              [](DrawState& s) {
                  s.lighting = false;
                  s.materialDiffuse = {0, 0, 0, 0};
              }),
         facing, 255, 255},
        {"light on the vertex with no constant attenuation stays finite",
         with(OneLight(100, 0, 1, 0),
              [](DrawState& s) {
                  s.materialEmissive = {0.2f, 0.2f, 0.2f, 0};
              }),
         SourceVertex{0, 0, 0, 0, 0, -1, 0, 0}, 51, 255},
        {"a singular transform has no normals",
         with(OneLight(100, 1, 0, 0), [](DrawState& s) { s.cameraFromObject._11 = 0; }), facing, 0,
         255},
    };
    for (const Variant& variant : Variants())
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(variant.name) + ": " + c.name);
            // Several copies, so the case goes through a full SIMD block and the tail.
            const std::vector<SourceVertex> in(11, c.vertex);
            for (const LitVertex& out : RunGuarded(variant, in, c.state)) {
                EXPECT_EQ(Channel(out.color, 0), c.rgb);
                EXPECT_EQ(Channel(out.color, 1), c.rgb);
                EXPECT_EQ(Channel(out.color, 2), c.rgb);
                EXPECT_EQ(Channel(out.color, 3), c.alpha);
                EXPECT_EQ(out.tu, c.vertex.tu);
                EXPECT_EQ(out.w, 1.0f);
            }
        }
}

// ---- KeepVisibleTriangles ----------------------------------------------------------------------

TEST(KeepVisibleTriangles, DropsOnlyTrianglesOutsideOneClipPlane) {
    auto at = [](float x, float y, float z, float w) { return LitVertex{x, y, z, w, 0, 0, 0}; };
    const std::vector<LitVertex> v = {
        at(0, 0, 0, 1),       // 0 inside
        at(0.5f, 0.5f, 0, 1), // 1 inside
        at(-2, 0, 0, 1),      // 2 left
        at(-3, 1, 0, 1),      // 3 left
        at(-4, -1, 0, 1),     // 4 left
        at(2, 0, 0, 1),       // 5 right
        at(0, 2, 0, 1),       // 6 above
        at(0, 0, -2, 1),      // 7 before the near plane
        at(1, 1, -3, 1),      // 8 before the near plane
        at(0, 0, -5, 1),      // 9 before the near plane
        at(0, 0, 0, -1),      // 10 behind the eye
        at(1, 2, 3, -2),      // 11 behind the eye
        at(-1, 0, 0, -0.5f),  // 12 behind the eye
        at(0, 0, 3, 2),       // 13 beyond the far plane
        at(1, 1, 4, 3),       // 14 beyond the far plane
        at(0, 0, 9, 1),       // 15 beyond the far plane
        at(1, 1, 1, 1),       // 16 on the corner of the volume: inside
    };
    struct Case {
        const char* name;
        std::vector<std::uint32_t> indices;
        std::vector<std::uint32_t> kept;
    };
    const Case cases[] = {
        {"inside", {0, 1, 16}, {0, 1, 16}},
        {"all left", {2, 3, 4}, {}},
        {"straddling the left plane", {2, 3, 0}, {2, 3, 0}},
        {"outside different planes can still cross the screen", {2, 5, 6}, {2, 5, 6}},
        {"all before the near plane", {7, 8, 9}, {}},
        {"all behind the eye", {10, 11, 12}, {}},
        {"all beyond the far plane", {13, 14, 15}, {}},
        {"one behind the eye", {0, 1, 10}, {0, 1, 10}},
        {"mixed list keeps order", {2, 3, 4, 0, 1, 16, 7, 8, 9, 5, 6, 2}, {0, 1, 16, 5, 6, 2}},
        {"trailing partial triangle", {0, 1, 16, 0, 1}, {0, 1, 16}},
        {"index past the vertices", {0, 1, 17, 0, 1, 16, 4000000000u, 0, 1}, {0, 1, 16}},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> out(c.indices.size() + 1, 0xDEADBEEF);
        const std::size_t n = KeepVisibleTriangles(v.data(), v.size(), c.indices.data(),
                                                   c.indices.size(), out.data());
        ASSERT_EQ(n, c.kept.size());
        EXPECT_TRUE(std::equal(c.kept.begin(), c.kept.end(), out.begin()));
        EXPECT_EQ(out[n], 0xDEADBEEFu);
    }
}

TEST(KeepVisibleTriangles, ManyVerticesGiveTheSameAnswer) {
    // More vertices than the outcode table holds: the same triangles survive.
    std::vector<LitVertex> v(5000, LitVertex{-5, 0, 0, 1, 0, 0, 0});
    v[4990] = v[4991] = v[4992] = LitVertex{0, 0, 0, 1, 0, 0, 0};
    const std::vector<std::uint32_t> indices = {0, 1, 2, 4990, 4991, 4992, 4990, 0, 1};
    std::vector<std::uint32_t> out(indices.size());
    for (std::size_t count : {std::size_t(4096), std::size_t(5000)}) {
        SCOPED_TRACE(count);
        ASSERT_EQ(KeepVisibleTriangles(v.data(), count, indices.data(), indices.size(), out.data()),
                  count > 4992 ? 6u : 0u);
    }
}

// ---- DistinctVertices ------------------------------------------------------------------------

TEST(DistinctVertices, BenchmarkBlocksShareTheirGridPoints) {
    std::vector<SourceVertex> buffer = Block(4, false); // the wall: 20 x 12 cells
    const std::vector<SourceVertex> floor = Block(4, true);
    const std::size_t floorFirst = buffer.size();
    buffer.insert(buffer.end(), floor.begin(), floor.end());
    ASSERT_EQ(floorFirst, 1440u);
    ASSERT_EQ(floor.size(), 2400u);

    DistinctVertices distinct;
    distinct.Reset(buffer.data(), buffer.size());
    const DistinctVertices::Range* f = distinct.Find(floorFirst, 2400);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->vertices.size(), 441u); // 21 x 21 grid points
    const DistinctVertices::Range* w = distinct.Find(0, floorFirst);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->vertices.size(), 273u); // 21 x 13

    // The indices give back the range byte for byte, in first-use order.
    for (const auto& [range, first] : {std::pair{f, floorFirst}, std::pair{w, std::size_t(0)}}) {
        ASSERT_EQ(range->indices.size(), first == 0 ? floorFirst : floor.size());
        std::uint32_t next = 0;
        for (std::size_t i = 0; i < range->indices.size(); ++i) {
            const std::uint32_t index = range->indices[i];
            ASSERT_LT(index, range->vertices.size());
            ASSERT_LE(index, next);
            if (index == next)
                ++next;
            ASSERT_EQ(std::memcmp(&range->vertices[index], &buffer[first + i], 32), 0) << i;
        }
    }

    // Kept until Reset, and still where it was after other ranges were added.
    for (std::size_t first = 0; first < 60; ++first)
        distinct.Find(first, 6);
    EXPECT_EQ(distinct.Find(floorFirst, 2400), f);
    EXPECT_EQ(f->vertices.size(), 441u);

    // After Reset the new contents count: -0.0 and 0.0 differ in their bytes.
    buffer[floorFirst + 1].nx = -0.0f; // grid point (1, 0), used by three more vertices
    distinct.Reset(buffer.data(), buffer.size());
    const DistinctVertices::Range* changed = distinct.Find(floorFirst, 2400);
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(changed->vertices.size(), 442u);
}

TEST(DistinctVertices, RangesOutsideTheBuffer) {
    const std::vector<SourceVertex> buffer = Block(1, true); // 150 vertices
    DistinctVertices distinct;
    EXPECT_EQ(distinct.Find(0, 1), nullptr); // nothing set yet
    distinct.Reset(buffer.data(), buffer.size());
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    const std::pair<std::size_t, std::size_t> outside[] = {
        {0, 151}, {150, 1}, {151, 0}, {100, 51}, {1, huge}, {huge, 2}, {huge, 0}};
    for (const auto& [first, count] : outside)
        EXPECT_EQ(distinct.Find(first, count), nullptr) << first << " + " << count;
    const DistinctVertices::Range* empty = distinct.Find(150, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->vertices.empty() && empty->indices.empty());
    const DistinctVertices::Range* whole = distinct.Find(0, 150);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->vertices.size(), 36u);
    distinct.Reset(nullptr, 0);
    EXPECT_EQ(distinct.Find(0, 1), nullptr);
}
