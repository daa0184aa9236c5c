#include "render/DXGUtils.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>

namespace {

constexpr float Sentinel = 42.0f;

D3DMATRIX Filled(float value) {
    D3DMATRIX m;
    for (auto& row : m.m)
        for (float& e : row)
            e = value;
    return m;
}

bool AllEqual(const D3DMATRIX& m, float value) {
    for (const auto& row : m.m)
        for (float e : row)
            if (e != value)
                return false;
    return true;
}

// Row vector x matrix, with w = 1.
D3DVECTOR Transform(const D3DVECTOR& v, const D3DMATRIX& m) {
    return {v.x * m._11 + v.y * m._21 + v.z * m._31 + m._41,
            v.x * m._12 + v.y * m._22 + v.z * m._32 + m._42,
            v.x * m._13 + v.y * m._23 + v.z * m._33 + m._43};
}

D3DVECTOR Vec(float x, float y, float z) {
    return {x, y, z};
}

} // namespace

TEST(DXGUtils, ConstantMatrices) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(IdentityMatrix.m[i][j], i == j ? 1.0f : 0.0f);
            EXPECT_EQ(ZeroMatrix.m[i][j], 0.0f);
        }
}

TEST(DXGUtils, VectorRoutinesRoundOnceToSingle) {
    D3DVECTOR r;
    VectorSubtract(Vec(1.0f, 5.0f, -2.0f), Vec(0.5f, 7.0f, -2.0f), r);
    EXPECT_EQ(r.x, 0.5f);
    EXPECT_EQ(r.y, -2.0f);
    EXPECT_EQ(r.z, 0.0f);
    VectorScale(Vec(1.0f, 2.0f, 3.0f), r, 0.1);
    // Computed in double and rounded once, not 0.1f x 3.0f in single.
    EXPECT_EQ(r.z, static_cast<float>(3.0 * 0.1));
    VectorDivide(Vec(1.0f, 2.0f, 3.0f), r, 3.0);
    EXPECT_EQ(r.x, static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(VectorLength(Vec(3.0f, 4.0f, 12.0f)), 13.0f);
    // 1e8^2 + 1 overflows nothing and loses nothing in double before the single rounding.
    EXPECT_EQ(VectorDot(Vec(1e8f, 1.0f, 0.0f), Vec(1e8f, 1.0f, 0.0f)), 1e16f);
    VectorCross(Vec(1.0f, 0.0f, 0.0f), Vec(0.0f, 1.0f, 0.0f), r);
    EXPECT_EQ(r.x, 0.0f);
    EXPECT_EQ(r.y, 0.0f);
    EXPECT_EQ(r.z, 1.0f);
    D3DVECTOR v;
    MakeVector(v, 0.1, 2.0, -3.5);
    EXPECT_EQ(v.x, 0.1f);
    EXPECT_EQ(v.z, -3.5f);
}

TEST(DXGUtils, MatrixMultiplyAppliesSecondOperandFirst) {
    D3DMATRIX translation, rotation, q = Filled(Sentinel);
    SetTranslateMatrix(translation, 101.5, 0.0, -7.25);
    SetRotateYMatrix(rotation, 0.7);
    MatrixMultiply(translation, rotation, q);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(q.m[i][j], rotation.m[i][j]) << i << "," << j;
    EXPECT_EQ(q._41, 101.5f);
    EXPECT_EQ(q._42, 0.0f);
    EXPECT_EQ(q._43, -7.25f);
    EXPECT_EQ(q._44, 1.0f);

    // A point is rotated, then moved.
    const D3DVECTOR p = Transform(Vec(1.0f, 0.0f, 0.0f), q);
    EXPECT_NEAR(p.x, std::cos(0.7) + 101.5, 1e-5);
    EXPECT_NEAR(p.z, -std::sin(0.7) - 7.25, 1e-5);

    // The ceiling tile: turned half a turn about z, then lifted to height 3.
    D3DMATRIX turn;
    SetRotateZMatrix(turn, -3.1415927f);
    SetTranslateMatrix(translation, 60.0, 3.0, 60.0);
    MatrixMultiply(translation, turn, q);
    const D3DVECTOR corner = Transform(Vec(5.0f, 0.0f, 5.0f), q);
    EXPECT_NEAR(corner.x, 55.0, 1e-5);
    EXPECT_NEAR(corner.y, 3.0, 1e-5);
    EXPECT_NEAR(corner.z, 65.0, 1e-5);
}

TEST(DXGUtils, MatrixMultiplyRoundsEveryPartialSum) {
    // 1 + 2^-24 + 2^-24: rounding after each step loses both small terms (ties to even),
    // one rounding at the end would keep them.
    D3DMATRIX a = ZeroMatrix, b = ZeroMatrix, q;
    const float tiny = std::ldexp(1.0f, -24);
    a._11 = 1.0f;
    a._21 = tiny;
    a._31 = tiny;
    b._11 = 1.0f;
    b._12 = 1.0f;
    b._13 = 1.0f;
    MatrixMultiply(a, b, q);
    EXPECT_EQ(q._11, 1.0f);
    EXPECT_TRUE(q._12 == 0.0f && q._44 == 0.0f);
}

TEST(DXGUtils, SetViewMatrixCases) {
    struct Case {
        const char* name;
        D3DVECTOR from, at, up;
        HRESULT status;
        D3DVECTOR expectedUp; // the view's up axis (second column), when it succeeds
    };
    const Case cases[] = {
        {"level view keeps world up", Vec(1, 2, 3), Vec(1, 2, 10), Vec(0, 1, 0), D3D_OK,
         Vec(0, 1, 0)},
        {"tilted world up is made perpendicular", Vec(0, 0, 0), Vec(0, 0, 1), Vec(0, 1, 1), D3D_OK,
         Vec(0, 1, 0)},
        {"world up along the view falls back to y", Vec(0, 0, 0), Vec(3, 0, 0), Vec(1, 0, 0),
         D3D_OK, Vec(0, 1, 0)},
        {"zero world up falls back to y", Vec(0, 0, 0), Vec(0, 0, 5), Vec(0, 0, 0), D3D_OK,
         Vec(0, 1, 0)},
        {"view along y falls back to z", Vec(0, 0, 0), Vec(0, 4, 0), Vec(0, 1, 0), D3D_OK,
         Vec(0, 0, 1)},
        {"view down y falls back to z", Vec(5, 5, 5), Vec(5, -5, 5), Vec(0, 0, 0), D3D_OK,
         Vec(0, 0, 1)},
        {"from = at fails", Vec(1, 2, 3), Vec(1, 2, 3), Vec(0, 1, 0), E_INVALIDARG, {}},
        {"from nearly at fails",
         Vec(1, 2, 3),
         Vec(1, 2, 3.0000001f),
         Vec(0, 1, 0),
         E_INVALIDARG,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DMATRIX m = Filled(Sentinel);
        ASSERT_EQ(SetViewMatrix(m, c.from, c.at, c.up), c.status);
        if (c.status != D3D_OK) {
            EXPECT_TRUE(AllEqual(m, Sentinel));
            continue;
        }
        EXPECT_NEAR(m._12, c.expectedUp.x, 1e-6);
        EXPECT_NEAR(m._22, c.expectedUp.y, 1e-6);
        EXPECT_NEAR(m._32, c.expectedUp.z, 1e-6);
        EXPECT_EQ(m._14, 0.0f);
        EXPECT_EQ(m._24, 0.0f);
        EXPECT_EQ(m._34, 0.0f);
        EXPECT_EQ(m._44, 1.0f);
        // The eye goes to the origin and `at` onto +z at its distance.
        const D3DVECTOR eye = Transform(c.from, m);
        EXPECT_NEAR(eye.x, 0.0, 1e-5);
        EXPECT_NEAR(eye.y, 0.0, 1e-5);
        EXPECT_NEAR(eye.z, 0.0, 1e-5);
        D3DVECTOR toAt;
        VectorSubtract(c.at, c.from, toAt);
        const D3DVECTOR at = Transform(c.at, m);
        EXPECT_NEAR(at.x, 0.0, 1e-5);
        EXPECT_NEAR(at.y, 0.0, 1e-5);
        EXPECT_NEAR(at.z, VectorLength(toAt), 1e-5);
        // Left-handed: right x up = view, so the basis has determinant +1.
        const double det = m._11 * (double(m._22) * m._33 - double(m._23) * m._32) -
                           m._12 * (double(m._21) * m._33 - double(m._23) * m._31) +
                           m._13 * (double(m._21) * m._32 - double(m._22) * m._31);
        EXPECT_NEAR(det, 1.0, 1e-6);
    }
}

TEST(DXGUtils, SetViewMatrixOfTheBenchmarkCamera) {
    // At the start of the run the camera stands at (100 + R, 1, 100) looking towards -z.
    const double r = 17.1705;
    const double yaw = -std::numbers::pi / 2;
    D3DVECTOR from, at, up;
    MakeVector(from, 100 + r, 1.0, 100);
    MakeVector(at, 100 + r + std::cos(yaw), 1.0, 100 + std::sin(yaw));
    MakeVector(up, 0, 1, 0);
    D3DMATRIX m;
    ASSERT_EQ(SetViewMatrix(m, from, at, up), D3D_OK);
    const D3DVECTOR ahead = Transform(Vec(100 + r, 1.0f, 90.0f), m);
    EXPECT_NEAR(ahead.z, 10.0, 1e-4);
    // Looking towards -z with y up, +x of the world is on the camera's left.
    const D3DVECTOR side = Transform(Vec(110 + r, 1.0f, 100.0f), m);
    EXPECT_LT(side.x, -9.99);
}

TEST(DXGUtils, SetProjectionMatrixCases) {
    // x scaled by aspect * cot(fov / 2), y by cot(fov / 2); depth q = far / (far - near) with
    // the offset -q * near; w = z. The figures are worked out by hand: cot 0.5 = 1.8304877.
    struct Case {
        const char* name;
        double fov, aspect, nearPlane, farPlane;
        HRESULT status;
        float m11, m22, m33, m43;
    };
    const Case cases[] = {
        {"benchmark projection", 1.0, 0.75, 0.5, 250.0, D3D_OK, 1.3728658f, 1.8304877f, 1.002004f,
         -0.501002f},
        {"near = far fails", 1.0, 0.75, 5.0, 5.0, E_INVALIDARG, 0, 0, 0, 0},
        {"planes 0.005 apart fail", 1.0, 0.75, 5.0, 5.005, E_INVALIDARG, 0, 0, 0, 0},
        {"reversed planes are accepted", 1.0, 1.0, 250.0, 0.5, D3D_OK, 1.8304877f, 1.8304877f,
         -0.002004008f, 0.501002f},
        {"fov = 0 fails", 0.0, 0.75, 0.5, 250.0, E_INVALIDARG, 0, 0, 0, 0},
        {"fov = 2 pi fails", 2 * std::numbers::pi, 0.75, 0.5, 250.0, E_INVALIDARG, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D3DMATRIX m = Filled(Sentinel);
        ASSERT_EQ(SetProjectionMatrix(m, c.fov, c.aspect, c.nearPlane, c.farPlane), c.status);
        if (c.status != D3D_OK) {
            EXPECT_TRUE(AllEqual(m, Sentinel));
            continue;
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                SCOPED_TRACE(testing::Message() << "row " << i + 1 << " column " << j + 1);
                if (i == 0 && j == 0)
                    EXPECT_FLOAT_EQ(m.m[i][j], c.m11);
                else if (i == 1 && j == 1)
                    EXPECT_FLOAT_EQ(m.m[i][j], c.m22);
                else if (i == 2 && j == 2)
                    EXPECT_FLOAT_EQ(m.m[i][j], c.m33);
                else if (i == 3 && j == 2)
                    EXPECT_FLOAT_EQ(m.m[i][j], c.m43);
                else
                    EXPECT_EQ(m.m[i][j], i == 2 && j == 3 ? 1.0f : 0.0f);
            }
        }
    }

    // The near plane maps to depth 0 and the far plane to depth 1.
    D3DMATRIX m;
    ASSERT_EQ(SetProjectionMatrix(m, 1.0, 0.75, 0.5, 250.0), D3D_OK);
    for (const auto& [z, depth] : {std::pair{0.5, 0.0}, std::pair{250.0, 1.0}}) {
        const double zc = z * m._33 + m._43, w = z * m._34;
        EXPECT_NEAR(zc / w, depth, 1e-6);
    }
}

TEST(DXGUtils, RotationsAndTranslation) {
    D3DMATRIX m;
    SetRotateYMatrix(m, std::numbers::pi / 2);
    // Rotating +x by 90 degrees about y (left-handed) gives -z.
    D3DVECTOR p = Transform(Vec(1, 0, 0), m);
    EXPECT_NEAR(p.x, 0.0, 1e-7);
    EXPECT_NEAR(p.z, -1.0, 1e-7);
    SetRotateZMatrix(m, std::numbers::pi / 2);
    p = Transform(Vec(1, 0, 0), m);
    EXPECT_NEAR(p.x, 0.0, 1e-7);
    EXPECT_NEAR(p.y, 1.0, 1e-7);
    EXPECT_EQ(m._33, 1.0f);
    EXPECT_EQ(m._44, 1.0f);
    SetTranslateMatrix(m, 1.0, 2.0, 3.0);
    D3DMATRIX expected = IdentityMatrix;
    expected._41 = 1.0f;
    expected._42 = 2.0f;
    expected._43 = 3.0f;
    EXPECT_EQ(std::memcmp(&m, &expected, sizeof m), 0);
}

TEST(DXGUtils, InitMaterialClearsEverythingElse) {
    D3DMATERIAL8 mtrl;
    std::memset(&mtrl, 0xAB, sizeof mtrl);
    InitMaterial(mtrl, 0.25, 0.5, 0.75, 1.0);
    D3DMATERIAL8 expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Diffuse = expected.Ambient = D3DCOLORVALUE{0.25f, 0.5f, 0.75f, 1.0f};
    EXPECT_EQ(std::memcmp(&mtrl, &expected, sizeof mtrl), 0);
}
