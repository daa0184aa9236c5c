// The Direct3D state a device holds, as its setters validated it, and what both vertex paths
// draw from. Both paths read the same `DrawConstants`, worked out in one place, so hardware
// and software vertex processing cannot drift apart.
#pragma once

#include "d3d8/D3D8.h"
#include "render/runtime/swvp/SoftwareVertexProcessing.h"
#include "render/runtime/swvp/TransformLighting.h"

#include <array>
#include <cstdint>

namespace d3d8rt {

class Texture;
class VertexBuffer;

inline D3DMATRIX IdentityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

struct DeviceState {
    D3DMATRIX world = IdentityMatrix(), view = IdentityMatrix(), projection = IdentityMatrix();
    bool zEnable = false;
    DWORD cullMode = D3DCULL_CCW;
    bool lighting = true;
    D3DCOLOR ambient = 0;
    D3DMATERIAL8 material{};
    std::array<D3DLIGHT8, 8> lights{};
    std::array<bool, 8> lightSet{}, lightEnabled{};
    Texture* texture = nullptr;
    DWORD colorOp = D3DTOP_MODULATE;
    DWORD magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
    VertexBuffer* stream = nullptr;
    UINT stride = 0;
    DWORD fvf = 0;
    bool inScene = false;

    // Set by the setters whose values the draw constants are made from.
    bool matricesDirty = true, lightsDirty = true;
};

// What a draw's vertices depend on, derived from DeviceState when its inputs change.
struct DrawConstants {
    swvp::DrawState draw{};
    float normalMatrix[3][3] = {};
    tnl::Lighting lighting{};
    // Bumped on every change, so a program knows whether its uniforms are current.
    std::uint64_t matrixGeneration = 0, lightGeneration = 0;
};

// Brings `out` up to date with `state` for a back buffer of width x height, clearing the
// dirty flags.
void UpdateDrawConstants(DeviceState& state, int width, int height, DrawConstants& out);

} // namespace d3d8rt
