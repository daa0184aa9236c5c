// Software vertex processing: the transform and lighting run in the CPU kernel of swvp/ on
// the draw's distinct vertices, and GL draws the finished ones indexed. The device has
// validated the draw; this only executes it.
#pragma once

#include "render/runtime/DeviceState.h"
#include "render/runtime/GlBindings.h"
#include "render/runtime/ProgramCache.h"

#include <memory>

namespace d3d8rt {

// A CPU array and the GL buffer it is copied into, grown together.
template <class T> struct StreamScratch {
    GLuint buffer = 0;
    std::size_t capacity = 0; // elements
    std::unique_ptr<T[]> data;

    // Room for `n` elements, the GL buffer bound to `target` if it had to grow (`grown` then
    // set); false when memory ran out.
    bool Reserve(QOpenGLExtraFunctions* gl, GLenum target, std::size_t n, bool& grown);
};

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

private:
    GlBindings& bindings_;
    ProgramCache& programs_;
    StreamScratch<swvp::LitVertex> lit_;
    // The indices of a draw's triangles that can reach the screen.
    StreamScratch<std::uint32_t> kept_;
};

} // namespace d3d8rt
