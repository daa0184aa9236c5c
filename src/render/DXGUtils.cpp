#include "render/DXGUtils.h"

#include <cmath>
#include <cstring>

namespace {

constexpr D3DMATRIX MakeMatrix(float diagonal) {
    D3DMATRIX m{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m.m[i][j] = i == j ? diagonal : 0.0f;
    return m;
}

// Below this a length counts as zero.
constexpr double MinLength = 1e-6;

} // namespace

const D3DMATRIX IdentityMatrix = MakeMatrix(1.0f);
const D3DMATRIX ZeroMatrix = MakeMatrix(0.0f);

void MakeVector(D3DVECTOR& v, double x, double y, double z) {
    v.x = static_cast<float>(x);
    v.y = static_cast<float>(y);
    v.z = static_cast<float>(z);
}

void VectorSubtract(const D3DVECTOR& a, const D3DVECTOR& b, D3DVECTOR& r) {
    MakeVector(r, double(a.x) - double(b.x), double(a.y) - double(b.y), double(a.z) - double(b.z));
}

void VectorScale(const D3DVECTOR& a, D3DVECTOR& r, double s) {
    MakeVector(r, a.x * s, a.y * s, a.z * s);
}

void VectorDivide(const D3DVECTOR& a, D3DVECTOR& r, double s) {
    MakeVector(r, a.x / s, a.y / s, a.z / s);
}

float VectorLength(const D3DVECTOR& a) {
    const double x = a.x, y = a.y, z = a.z;
    return static_cast<float>(std::sqrt(x * x + y * y + z * z));
}

float VectorDot(const D3DVECTOR& a, const D3DVECTOR& b) {
    return static_cast<float>(double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z);
}

void VectorCross(const D3DVECTOR& a, const D3DVECTOR& b, D3DVECTOR& r) {
    const double ax = a.x, ay = a.y, az = a.z, bx = b.x, by = b.y, bz = b.z;
    MakeVector(r, ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx);
}

void MatrixMultiply(const D3DMATRIX& a, const D3DMATRIX& b, D3DMATRIX& q) {
    q = ZeroMatrix;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                q.m[i][j] =
                    static_cast<float>(double(q.m[i][j]) + double(a.m[k][j]) * double(b.m[i][k]));
}

HRESULT SetViewMatrix(D3DMATRIX& m, const D3DVECTOR& from, const D3DVECTOR& at,
                      const D3DVECTOR& worldUp) {
    D3DVECTOR view;
    VectorSubtract(at, from, view);
    float length = VectorLength(view);
    if (length < MinLength)
        return E_INVALIDARG;
    VectorDivide(view, view, length);

    // The part of a candidate up direction that is perpendicular to the view.
    D3DVECTOR up;
    auto perpendicular = [&](const D3DVECTOR& candidate, float along) {
        D3DVECTOR projection;
        VectorScale(view, projection, along);
        VectorSubtract(candidate, projection, up);
        return VectorLength(up);
    };
    length = perpendicular(worldUp, VectorDot(worldUp, view));
    if (length < MinLength) {
        length = perpendicular(D3DVECTOR{0.0f, 1.0f, 0.0f}, view.y);
        if (length < MinLength) {
            length = perpendicular(D3DVECTOR{0.0f, 0.0f, 1.0f}, view.z);
            if (length < MinLength)
                return E_INVALIDARG;
        }
    }
    VectorDivide(up, up, length);
    D3DVECTOR right;
    VectorCross(up, view, right);

    D3DMATRIX result = IdentityMatrix;
    result._11 = right.x;
    result._12 = up.x;
    result._13 = view.x;
    result._21 = right.y;
    result._22 = up.y;
    result._23 = view.y;
    result._31 = right.z;
    result._32 = up.z;
    result._33 = view.z;
    result._41 = -VectorDot(from, right);
    result._42 = -VectorDot(from, up);
    result._43 = -VectorDot(from, view);
    m = result;
    return D3D_OK;
}

HRESULT SetProjectionMatrix(D3DMATRIX& m, double fov, double aspect, double nearPlane,
                            double farPlane) {
    if (std::fabs(farPlane - nearPlane) < 0.01)
        return E_INVALIDARG;
    const double s = std::sin(fov / 2.0);
    if (std::fabs(s) < 0.01)
        return E_INVALIDARG;
    const double t = std::cos(fov / 2.0) / s;
    const double q = farPlane / (farPlane - nearPlane);
    m = ZeroMatrix;
    m._11 = static_cast<float>(aspect * t);
    m._22 = static_cast<float>(t);
    m._33 = static_cast<float>(q);
    m._34 = 1.0f;
    m._43 = static_cast<float>(-q * nearPlane);
    return D3D_OK;
}

void SetTranslateMatrix(D3DMATRIX& m, double x, double y, double z) {
    m = IdentityMatrix;
    m._41 = static_cast<float>(x);
    m._42 = static_cast<float>(y);
    m._43 = static_cast<float>(z);
}

void SetRotateYMatrix(D3DMATRIX& m, double angle) {
    const float c = static_cast<float>(std::cos(angle));
    const float s = static_cast<float>(std::sin(angle));
    m = IdentityMatrix;
    m._11 = c;
    m._13 = -s;
    m._31 = s;
    m._33 = c;
}

void SetRotateZMatrix(D3DMATRIX& m, double angle) {
    const float c = static_cast<float>(std::cos(angle));
    const float s = static_cast<float>(std::sin(angle));
    m = IdentityMatrix;
    m._11 = c;
    m._12 = s;
    m._21 = -s;
    m._22 = c;
}

void InitMaterial(D3DMATERIAL8& mtrl, double r, double g, double b, double a) {
    std::memset(&mtrl, 0, sizeof mtrl);
    const D3DCOLORVALUE colour{static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                               static_cast<float>(a)};
    mtrl.Diffuse = colour;
    mtrl.Ambient = colour;
}
