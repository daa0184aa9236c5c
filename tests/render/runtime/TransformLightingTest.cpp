// The normal matrix both vertex paths light with.
#include "render/runtime/swvp/TransformLighting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

D3DMATRIX Diagonal(float x, float y, float z) {
    D3DMATRIX m{};
    m._11 = x;
    m._22 = y;
    m._33 = z;
    m._44 = 1.0f;
    return m;
}

} // namespace

TEST(NormalMatrix, InverseTransposeOrNoNormalsAtAll) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    D3DMATRIX shear = Diagonal(1, 1, 1);
    shear._21 = 2.0f; // x += 2y: the normal's y picks up -2x
    struct Case {
        const char* name;
        D3DMATRIX m;
        float expected[3][3];
    };
    const Case cases[] = {
        {"scale", Diagonal(2, 4, 0.5f), {{0.5f, 0, 0}, {0, 0.25f, 0}, {0, 0, 2}}},
        {"shear", shear, {{1, -2, 0}, {0, 1, 0}, {0, 0, 1}}},
        // Float would lose this determinant (1e-51); the normals are well defined.
        {"tiny determinant",
         Diagonal(1e-17f, 1e-17f, 1e-17f),
         {{1e17f, 0, 0}, {0, 1e17f, 0}, {0, 0, 1e17f}}},
        {"singular", Diagonal(1, 1, 0), {}},
        {"infinite", Diagonal(inf, 1, 1), {}},
        {"not a number", Diagonal(1, nan, 1), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float out[3][3];
        tnl::NormalMatrix(c.m, out);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(out[i][j], c.expected[i][j], 1e-6 * std::abs(c.expected[i][j]))
                    << i << ", " << j;
    }
}
