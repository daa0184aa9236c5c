// A GL buffer that draws are streamed through: each write goes to the next free bytes, so no
// write ever touches bytes a queued draw still reads and the driver never has to wait for its
// queue. When the buffer is full, and once a frame, the next write starts again at the front of
// a buffer orphaned whole (mapped with GL_MAP_INVALIDATE_BUFFER_BIT): the driver gives fresh
// storage if the old is still queued, and the same storage if it is not.
#pragma once

#include <QOpenGLExtraFunctions>

#include <cstddef>

namespace d3d8rt {

class StreamBuffer {
public:
    // Makes the GL buffer for `target` (GL_ARRAY_BUFFER or GL_ELEMENT_ARRAY_BUFFER) with room
    // for `capacity` bytes; the context must be current.
    bool Create(QOpenGLExtraFunctions* gl, GLenum target, GLsizeiptr capacity);
    // Deletes it; the context must be current.
    void Destroy(QOpenGLExtraFunctions* gl);

    // Binds the buffer and maps the next `bytes` for writing, their start a multiple of
    // `alignment`; `offset` gets that start. A write larger than the buffer first grows it
    // (outside the steady state: the sizes of a scene's draws repeat). Null when GL refuses.
    void* Map(QOpenGLExtraFunctions* gl, GLsizeiptr bytes, GLsizeiptr alignment, GLintptr& offset);
    // Unmaps, keeping the first `used` bytes of what was mapped; false when GL lost them.
    bool Unmap(QOpenGLExtraFunctions* gl, GLsizeiptr used);
    // The next write starts a fresh buffer: called once a frame.
    void Orphan() { next_ = capacity_; }

    GLuint buffer() const { return buffer_; }

private:
    GLenum target_ = GL_ARRAY_BUFFER;
    GLuint buffer_ = 0;
    GLsizeiptr capacity_ = 0;
    GLsizeiptr next_ = 0; // first free byte
    GLintptr mapped_ = 0;
};

} // namespace d3d8rt
