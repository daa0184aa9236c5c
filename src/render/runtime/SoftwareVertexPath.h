// Software vertex processing: the transform and lighting run in the CPU kernel of swvp/ on
// the draw's distinct vertices, and GL draws the finished ones indexed. The device has
// validated the draw; this only executes it.
#pragma once

#include "render/runtime/DeviceState.h"
#include "render/runtime/GlBindings.h"
#include "render/runtime/ProgramCache.h"
#include "render/runtime/StreamBuffer.h"

#include <memory>

namespace d3d8rt {

class SoftwareVertexPath {
public:
    SoftwareVertexPath(GlBindings& bindings, ProgramCache& programs)
        : bindings_(bindings), programs_(programs) {}
    // Makes the buffers the processed vertices go through; the context must be current.
    bool Create();
    // Deletes them; the context must be current.
    void Destroy();
    // Needs the stream set, the context current and the draw constants up to date.
    HRESULT Draw(const DeviceState& state, const DrawConstants& constants, UINT start, UINT count);
    // The frame was presented: the next frame streams into fresh buffers.
    void FrameDone();

private:
    // Room for `n` processed vertices on the CPU, where the kernel writes them and the
    // visibility test reads them (a mapped GL buffer may be slow to read back).
    bool ReserveLit(std::size_t n);

    GlBindings& bindings_;
    ProgramCache& programs_;
    std::unique_ptr<swvp::LitVertex[]> lit_;
    std::size_t litCapacity_ = 0;
    // Each draw's processed vertices and the indices of its triangles that can reach the
    // screen, streamed.
    StreamBuffer vertices_, indices_;
};

} // namespace d3d8rt
