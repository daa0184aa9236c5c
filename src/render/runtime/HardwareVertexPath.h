// Hardware vertex processing: the transform and lighting run in the generated GLSL, fed from
// the vertex buffer: a static buffer's ranges indexed over their distinct vertices
// (StaticRanges), others as they lie. The device has validated the draw; this only executes it.
#pragma once

#include "render/runtime/DeviceState.h"
#include "render/runtime/GlBindings.h"
#include "render/runtime/ProgramCache.h"

namespace d3d8rt {

class HardwareVertexPath {
public:
    HardwareVertexPath(GlBindings& bindings, ProgramCache& programs)
        : bindings_(bindings), programs_(programs) {}
    // Needs the stream set, the context current and the draw constants up to date.
    HRESULT Draw(const DeviceState& state, const DrawConstants& constants, UINT start, UINT count);

private:
    GlBindings& bindings_;
    ProgramCache& programs_;
};

} // namespace d3d8rt
