#include "render/runtime/StreamBuffer.h"

#include <algorithm>

namespace d3d8rt {

bool StreamBuffer::Create(QOpenGLExtraFunctions* gl, GLenum target, GLsizeiptr capacity) {
    target_ = target;
    gl->glGenBuffers(1, &buffer_);
    if (buffer_ == 0)
        return false;
    gl->glBindBuffer(target_, buffer_);
    gl->glBufferData(target_, capacity, nullptr, GL_STREAM_DRAW);
    capacity_ = capacity;
    next_ = 0;
    return gl->glGetError() == GL_NO_ERROR;
}

void StreamBuffer::Destroy(QOpenGLExtraFunctions* gl) {
    if (buffer_ != 0)
        gl->glDeleteBuffers(1, &buffer_);
    buffer_ = 0;
    capacity_ = next_ = 0;
}

void* StreamBuffer::Map(QOpenGLExtraFunctions* gl, GLsizeiptr bytes, GLsizeiptr alignment,
                        GLintptr& offset) {
    gl->glBindBuffer(target_, buffer_);
    if (bytes > capacity_) {
        const GLsizeiptr grown = std::max(bytes, capacity_ * 2);
        gl->glBufferData(target_, grown, nullptr, GL_STREAM_DRAW);
        capacity_ = grown;
        next_ = 0;
    }
    GLbitfield access = GL_MAP_WRITE_BIT;
    const GLsizeiptr start = (next_ + alignment - 1) / alignment * alignment;
    if (start + bytes > capacity_) {
        offset = 0;
        access |= GL_MAP_INVALIDATE_BUFFER_BIT;
    } else {
        // Bytes no queued draw reads: nothing to wait for.
        offset = start;
        access |= GL_MAP_INVALIDATE_RANGE_BIT | GL_MAP_UNSYNCHRONIZED_BIT;
    }
    mapped_ = offset;
    return gl->glMapBufferRange(target_, offset, bytes, access);
}

bool StreamBuffer::Unmap(QOpenGLExtraFunctions* gl, GLsizeiptr used) {
    next_ = mapped_ + used;
    return gl->glUnmapBuffer(target_) == GL_TRUE;
}

} // namespace d3d8rt
