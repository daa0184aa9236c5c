#include "render/runtime/SoftwareVertexPath.h"

#include "render/runtime/DriverAllocations.h"
#include "render/runtime/Objects.h"

#include <cstddef>
#include <new>

namespace d3d8rt {

template <class T>
bool StreamScratch<T>::Reserve(QOpenGLExtraFunctions* gl, GLenum target, std::size_t n,
                               bool& grown) {
    grown = n > capacity;
    if (!grown)
        return true;
    std::unique_ptr<T[]> larger(new (std::nothrow) T[n]);
    if (!larger)
        return false;
    data = std::move(larger);
    capacity = n;
    gl->glBindBuffer(target, buffer);
    gl->glBufferData(target, GLsizeiptr(n * sizeof(T)), nullptr, GL_STREAM_DRAW);
    return true;
}

bool SoftwareVertexPath::Create() {
    QOpenGLExtraFunctions* gl = bindings_.gl();
    gl->glGenBuffers(1, &lit_.buffer);
    gl->glGenBuffers(1, &kept_.buffer);
    return lit_.buffer != 0 && kept_.buffer != 0;
}

void SoftwareVertexPath::Destroy() {
    QOpenGLExtraFunctions* gl = bindings_.gl();
    for (GLuint* buffer : {&lit_.buffer, &kept_.buffer}) {
        if (*buffer != 0)
            gl->glDeleteBuffers(1, buffer);
        *buffer = 0;
    }
}

HRESULT SoftwareVertexPath::Draw(const DeviceState& state, const DrawConstants& constants,
                                 UINT start, UINT count) {
    const swvp::DistinctVertices::Range* range = state.stream->DistinctRange(start, count);
    if (range == nullptr)
        return D3DERR_INVALIDCALL;
    QOpenGLExtraFunctions* gl = bindings_.gl();
    const std::size_t n = range->vertices.size();
    bool litGrown = false, keptGrown = false;
    if (!lit_.Reserve(gl, GL_ARRAY_BUFFER, n, litGrown) ||
        !kept_.Reserve(gl, GL_ELEMENT_ARRAY_BUFFER, count, keptGrown))
        return E_OUTOFMEMORY;
    if (litGrown)
        bindings_.InvalidateLayout();
    swvp::ProcessVertices(range->vertices.data(), n, constants.draw, lit_.data.get());
    // Most of a draw's triangles lie wholly outside the view; dropping them here spares the
    // rasteriser their set-up, as a software vertex pipeline clips before rasterising.
    const std::size_t kept = swvp::KeepVisibleTriangles(lit_.data.get(), n, range->indices.data(),
                                                        count, kept_.data.get());
    if (kept == 0)
        return D3D_OK;

    ProgramKey key;
    key.software = true;
    key.texture = state.texture != nullptr;
    key.color = StageColor(state.colorOp);
    if (programs_.Use(key) == nullptr)
        return D3DERR_INVALIDCALL;
    bindings_.ApplyTexture(state.texture, state.magFilter, state.minFilter, state.mipFilter);
    gl->glBindBuffer(GL_ARRAY_BUFFER, lit_.buffer);
    gl->glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(n * sizeof(swvp::LitVertex)),
                        lit_.data.get());
    if (bindings_.layoutBuffer() != lit_.buffer) {
        constexpr GLsizei stride = sizeof(swvp::LitVertex);
        gl->glEnableVertexAttribArray(kPositionAttribute);
        gl->glEnableVertexAttribArray(kSecondAttribute);
        gl->glEnableVertexAttribArray(kTexcoordAttribute);
        gl->glVertexAttribPointer(kPositionAttribute, 4, GL_FLOAT, GL_FALSE, stride, nullptr);
        gl->glVertexAttribPointer(kSecondAttribute, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                  reinterpret_cast<void*>(offsetof(swvp::LitVertex, color)));
        gl->glVertexAttribPointer(kTexcoordAttribute, 2, GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(offsetof(swvp::LitVertex, tu)));
        bindings_.SetLayoutBuffer(lit_.buffer);
    }
    gl->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, kept_.buffer);
    gl->glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, GLsizeiptr(kept * sizeof(std::uint32_t)),
                        kept_.data.get());
    const DriverAllocations guard;
    gl->glDrawElements(GL_TRIANGLES, GLsizei(kept), GL_UNSIGNED_INT, nullptr);
    return D3D_OK;
}

} // namespace d3d8rt
