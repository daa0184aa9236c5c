// Vector, matrix and material routines for building the scene's transforms. Row vectors,
// row-major matrices (v' = v x M), left-handed: the camera looks along +z of view space.
//
// Arithmetic is done in double precision and every stored result is rounded to single where
// it is stored, so the results do not depend on the compiler's choice of registers. Nothing
// here allocates or touches the device.
#pragma once

#include "d3d8/D3D8.h"

// The two matrices that every matrix builder starts from.
extern const D3DMATRIX IdentityMatrix;
extern const D3DMATRIX ZeroMatrix;

void MakeVector(D3DVECTOR& v, double x, double y, double z);
void VectorSubtract(const D3DVECTOR& a, const D3DVECTOR& b, D3DVECTOR& r);
void VectorScale(const D3DVECTOR& a, D3DVECTOR& r, double s);
void VectorDivide(const D3DVECTOR& a, D3DVECTOR& r, double s);
float VectorLength(const D3DVECTOR& a);
float VectorDot(const D3DVECTOR& a, const D3DVECTOR& b);
void VectorCross(const D3DVECTOR& a, const D3DVECTOR& b, D3DVECTOR& r);

// q = b x a: transforming by q applies b first, then a. q must be neither a nor b.
void MatrixMultiply(const D3DMATRIX& a, const D3DMATRIX& b, D3DMATRIX& q);

// A view matrix looking from `from` towards `at`. When worldUp is parallel to the view
// direction, (0, 1, 0) and then (0, 0, 1) stand in for it. E_INVALIDARG (m untouched) when
// from = at or no up direction fits.
HRESULT SetViewMatrix(D3DMATRIX& m, const D3DVECTOR& from, const D3DVECTOR& at,
                      const D3DVECTOR& worldUp);
// A perspective projection; E_INVALIDARG (m untouched) when the planes nearly coincide or
// the field of view is nearly 0 (or a multiple of 2 pi).
HRESULT SetProjectionMatrix(D3DMATRIX& m, double fov, double aspect, double nearPlane,
                            double farPlane);
void SetTranslateMatrix(D3DMATRIX& m, double x, double y, double z);
void SetRotateYMatrix(D3DMATRIX& m, double angle);
void SetRotateZMatrix(D3DMATRIX& m, double angle);

// Diffuse = Ambient = (r, g, b, a); specular, emissive and power zero.
void InitMaterial(D3DMATERIAL8& mtrl, double r, double g, double b, double a);
