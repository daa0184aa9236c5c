// Hardware vertex processing draws a static vertex buffer's triangle lists indexed: each draw
// range's distinct vertices once, in a GL buffer of their own, and its triangles as indices
// into them. A grid of cells lists every corner up to six times; the driver then transforms
// and lights each corner once, as a GPU's post-transform cache would, and draws the very same
// triangles from the very same vertex values.
#pragma once

#include "render/runtime/swvp/SoftwareVertexProcessing.h"

#include <QOpenGLExtraFunctions>

#include <cstddef>
#include <unordered_map>

namespace d3d8rt {

struct IndexedRange {
    GLuint vertices = 0, indices = 0;
    GLsizei count = 0; // indices, one per vertex of the range
};

class StaticRanges {
public:
    // The buffers of vertices [first, first + count) of the buffer `distinct` describes, made
    // on first use; null when the range lies outside it or GL refuses. The context must be
    // current; GL_ARRAY_BUFFER and GL_ELEMENT_ARRAY_BUFFER are left bound to new buffers.
    const IndexedRange* Find(QOpenGLExtraFunctions* gl, swvp::DistinctVertices& distinct,
                             std::size_t first, std::size_t count);
    // Deletes every range's buffers, calling forget(name) for each first; the context must be
    // current.
    template <class Forget> void Clear(QOpenGLExtraFunctions* gl, Forget forget) {
        for (auto& [key, range] : ranges_) {
            forget(range.vertices);
            forget(range.indices);
            const GLuint buffers[2] = {range.vertices, range.indices};
            gl->glDeleteBuffers(2, buffers);
        }
        ranges_.clear();
    }
    std::size_t size() const { return ranges_.size(); }

private:
    std::unordered_map<swvp::RangeKey, IndexedRange, swvp::RangeKeyHash> ranges_;
};

} // namespace d3d8rt
