// The adapter's identity and capabilities, asked of the runtime once at start.
#include "render/AdapterInfo.h"

#include "render/DirectXGraphics.h"
#include "state/Variables.h"

#include <cstring>
#include <string_view>

void ReadAdapterInfo() {
    IDirect3D8* d3d = nullptr;
    try {
        d3d = Direct3DCreate8(D3D_SDK_VERSION);
    } catch (...) {
        d3d = nullptr; // a runtime that cannot start is the same as none
    }
    if (d3d == nullptr) {
        Direct3DMissing = true;
        return;
    }
    d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &CurrentComputer.HalCaps);
    d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, &CurrentComputer.RefCaps);
    D3DADAPTER_IDENTIFIER8 identifier{};
    if (SUCCEEDED(d3d->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &identifier))) {
        const std::size_t length = strnlen(identifier.Description, sizeof identifier.Description);
        CurrentComputer.VideoAdapter =
            ScrambleText(MakeStringSlot(std::string_view(identifier.Description, length)));
    }
    d3d->Release();
}
