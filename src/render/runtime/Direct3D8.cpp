// Placeholder entry point; the runtime is being written.
#include "render/DirectXGraphics.h"

extern "C" __attribute__((visibility("default"))) IDirect3D8* Direct3DCreate8(UINT) {
    return nullptr;
}
