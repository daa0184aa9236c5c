#include "render/runtime/swvp/TransformLighting.h"

#include <algorithm>
#include <cmath>

namespace tnl {

void NormalMatrix(const D3DMATRIX& m, float out[3][3]) {
    // Cofactors over the determinant, in double: a transform a little off singular keeps its
    // normals where float would lose the determinant.
    const auto e = [&](int i, int j) { return double(m.m[i][j]); };
    double cof[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            cof[i][j] = e(i1, j1) * e(i2, j2) - e(i1, j2) * e(i2, j1);
        }
    const double det = e(0, 0) * cof[0][0] + e(0, 1) * cof[0][1] + e(0, 2) * cof[0][2];
    const bool usable = det != 0.0 && std::isfinite(det);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = usable ? static_cast<float>(cof[i][j] / det) : 0.0f;
}

void PrepareLighting(const swvp::DrawState& state, Lighting& out) {
    // The material's products are made once per draw rather than per vertex, in double.
    const D3DCOLORVALUE& md = state.materialDiffuse;
    const D3DCOLORVALUE& ma = state.materialAmbient;
    const D3DCOLORVALUE& me = state.materialEmissive;
    const double diffuse[3] = {md.r, md.g, md.b};
    const double ambient[3] = {ma.r, ma.g, ma.b};
    const double emissive[3] = {me.r, me.g, me.b};
    for (int c = 0; c < 3; ++c)
        out.base[c] = static_cast<float>(emissive[c] + ambient[c] * state.globalAmbient[c]);
    out.base[3] = std::clamp(md.a, 0.0f, 1.0f);
    out.lightCount = state.lighting ? std::clamp(state.lightCount, 0, 8) : 0;
    out.anyAmbient = false;
    for (int l = 0; l < out.lightCount; ++l) {
        const swvp::PointLight& in = state.lights[l];
        for (int c = 0; c < 3; ++c) {
            out.position[l][c] = in.position[c];
            out.diffuse[l][c] = static_cast<float>(diffuse[c] * in.diffuse[c]);
            out.ambient[l][c] = static_cast<float>(ambient[c] * in.ambient[c]);
            out.anyAmbient = out.anyAmbient || out.ambient[l][c] != 0.0f;
        }
        out.attenuation[l][0] = in.range;
        out.attenuation[l][1] = in.attenuation0;
        out.attenuation[l][2] = in.attenuation1;
        out.attenuation[l][3] = in.attenuation2;
    }
}

} // namespace tnl
