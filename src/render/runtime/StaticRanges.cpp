#include "render/runtime/StaticRanges.h"

namespace d3d8rt {

const IndexedRange* StaticRanges::Find(QOpenGLExtraFunctions* gl, swvp::DistinctVertices& distinct,
                                       std::size_t first, std::size_t count) {
    const swvp::RangeKey key{first, count};
    if (const auto found = ranges_.find(key); found != ranges_.end())
        return &found->second;
    const swvp::DistinctVertices::Range* range = distinct.Find(first, count);
    if (range == nullptr || range->vertices.empty())
        return nullptr;
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    IndexedRange made;
    made.count = GLsizei(range->indices.size());
    GLuint buffers[2] = {};
    gl->glGenBuffers(2, buffers);
    made.vertices = buffers[0];
    made.indices = buffers[1];
    gl->glBindBuffer(GL_ARRAY_BUFFER, made.vertices);
    gl->glBufferData(GL_ARRAY_BUFFER,
                     GLsizeiptr(range->vertices.size() * sizeof(swvp::SourceVertex)),
                     range->vertices.data(), GL_STATIC_DRAW);
    gl->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, made.indices);
    gl->glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                     GLsizeiptr(range->indices.size() * sizeof(std::uint32_t)),
                     range->indices.data(), GL_STATIC_DRAW);
    if (gl->glGetError() != GL_NO_ERROR) {
        gl->glDeleteBuffers(2, buffers);
        return nullptr;
    }
    return &ranges_.emplace(key, made).first->second;
}

} // namespace d3d8rt
