// Adapter 0: what the desktop's OpenGL renderer is and can do, asked once per runtime object.
#pragma once

#include "d3d8/D3D8.h"

#include <cstdint>
#include <string>

namespace d3d8rt {

struct AdapterInfo {
    std::string renderer;  // GL_RENDERER
    std::string vendor;    // GL_VENDOR
    std::string version;   // GL_VERSION
    bool software = false; // llvmpipe, softpipe, swrast and the like
    int maxTextureSize = 0;
    int maxRenderbufferSize = 0;
    std::uint64_t memoryBytes = 0; // the renderer's memory as the driver reports it
};

// Queries the renderer through a compatibility-profile context on an offscreen surface.
// False when there is no usable OpenGL at all.
bool QueryAdapter(AdapterInfo& info);

// Names of renderers that draw on the processor.
bool IsSoftwareRenderer(const std::string& renderer);

// Whether the desktop renderer counts as a hardware device (the test switch included).
bool HasHalDevice(const AdapterInfo& info);

// The capability block of a HAL or REF device on this adapter.
void FillCaps(const AdapterInfo& info, D3DDEVTYPE type, D3DCAPS8& caps);

// The test-only switch: a software renderer counts as hardware while it is on.
extern bool TreatSoftwareAsHardware;

// Texture memory reported to the program: the renderer's memory, capped so that it fits an
// unsigned 32-bit count honestly.
std::uint64_t ReportableMemory(std::uint64_t bytes);

} // namespace d3d8rt
