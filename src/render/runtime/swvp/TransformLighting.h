// The per-draw constants of Direct3D's fixed-function transform and lighting, worked out in one
// place for both vertex paths: the GLSL program takes them as uniforms, the CPU kernel of swvp/
// as its constants. One routine each, so the two paths cannot light a scene differently.
#pragma once

#include "d3d8/D3D8.h"
#include "render/runtime/swvp/SoftwareVertexProcessing.h"

namespace tnl {

// The lights with the material's products made, laid out as the GLSL uniform arrays take them.
struct Lighting {
    float base[4];           // emissive + material ambient x global ambient; material diffuse alpha
    int lightCount;          // enabled lights, 0 with lighting off
    bool anyAmbient;         // whether any light adds an ambient term
    float position[8][3];    // camera space
    float diffuse[8][3];     // material diffuse x light diffuse
    float ambient[8][3];     // material ambient x light ambient
    float attenuation[8][4]; // range, a0, a1, a2
};

// The normal matrix of row vectors: inverse transpose of the upper 3 x 3 of `m`. A transform
// whose determinant is zero or not finite has no normals to speak of; its normals become zero,
// leaving the emissive and ambient terms.
void NormalMatrix(const D3DMATRIX& m, float out[3][3]);

// The lights and material of `state` as both paths light with them.
void PrepareLighting(const swvp::DrawState& state, Lighting& out);

} // namespace tnl
