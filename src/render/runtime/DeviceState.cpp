#include "render/runtime/DeviceState.h"

namespace d3d8rt {

namespace {

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return r;
}

void ColorToFloats(D3DCOLOR c, float out[3]) {
    out[0] = float((c >> 16) & 0xFF) / 255.0f;
    out[1] = float((c >> 8) & 0xFF) / 255.0f;
    out[2] = float(c & 0xFF) / 255.0f;
}

void UpdateMatrices(const DeviceState& state, int width, int height, DrawConstants& out) {
    // Direct3D clip space has z in 0..w and pixel centres on integers; GL has z in -w..w and
    // centres on halves. One matrix after the projection moves one onto the other.
    D3DMATRIX fix = IdentityMatrix();
    fix._33 = 2.0f;
    fix._43 = -1.0f;
    fix._41 = 1.0f / float(width);
    fix._42 = -1.0f / float(height);
    const D3DMATRIX cameraFromObject = Multiply(state.world, state.view);
    out.draw.cameraFromObject = cameraFromObject;
    out.draw.clipFromObject = Multiply(Multiply(cameraFromObject, state.projection), fix);
    tnl::NormalMatrix(cameraFromObject, out.normalMatrix);
    ++out.matrixGeneration;
}

void UpdateLights(const DeviceState& state, DrawConstants& out) {
    swvp::DrawState& s = out.draw;
    s.lighting = state.lighting;
    ColorToFloats(state.ambient, s.globalAmbient);
    s.materialDiffuse = state.material.Diffuse;
    s.materialAmbient = state.material.Ambient;
    s.materialEmissive = state.material.Emissive;
    s.lightCount = 0;
    for (std::size_t i = 0; i < state.lights.size(); ++i) {
        if (!state.lightEnabled[i])
            continue;
        const D3DLIGHT8& l = state.lights[i];
        swvp::PointLight& p = s.lights[s.lightCount++];
        // Lights live in camera space.
        const D3DMATRIX& v = state.view;
        const float x = l.Position.x, y = l.Position.y, z = l.Position.z;
        p.position[0] = x * v._11 + y * v._21 + z * v._31 + v._41;
        p.position[1] = x * v._12 + y * v._22 + z * v._32 + v._42;
        p.position[2] = x * v._13 + y * v._23 + z * v._33 + v._43;
        p.diffuse[0] = l.Diffuse.r, p.diffuse[1] = l.Diffuse.g, p.diffuse[2] = l.Diffuse.b;
        p.ambient[0] = l.Ambient.r, p.ambient[1] = l.Ambient.g, p.ambient[2] = l.Ambient.b;
        p.range = l.Range;
        p.attenuation0 = l.Attenuation0;
        p.attenuation1 = l.Attenuation1;
        p.attenuation2 = l.Attenuation2;
    }
    tnl::PrepareLighting(s, out.lighting);
    ++out.lightGeneration;
}

} // namespace

void UpdateDrawConstants(DeviceState& state, int width, int height, DrawConstants& out) {
    if (state.matricesDirty) {
        UpdateMatrices(state, width, height, out);
        state.matricesDirty = false;
    }
    if (state.lightsDirty) {
        UpdateLights(state, out);
        state.lightsDirty = false;
    }
}

} // namespace d3d8rt
