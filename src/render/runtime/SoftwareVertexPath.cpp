#include "render/runtime/SoftwareVertexPath.h"

#include "render/runtime/DriverAllocations.h"
#include "render/runtime/Objects.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace d3d8rt {

namespace {

// Room for a frame of the benchmark's draws before the streams start again at the front.
constexpr GLsizeiptr kVertexStreamBytes = GLsizeiptr(4) << 20;
constexpr GLsizeiptr kIndexStreamBytes = GLsizeiptr(2) << 20;

} // namespace

bool SoftwareVertexPath::Create() {
    QOpenGLExtraFunctions* gl = bindings_.gl();
    const bool made = vertices_.Create(gl, GL_ARRAY_BUFFER, kVertexStreamBytes) &&
                      indices_.Create(gl, GL_ELEMENT_ARRAY_BUFFER, kIndexStreamBytes);
    bindings_.InvalidateLayout();
    bindings_.ForgetElementBuffer();
    return made;
}

void SoftwareVertexPath::Destroy() {
    QOpenGLExtraFunctions* gl = bindings_.gl();
    bindings_.ForgetBuffer(vertices_.buffer());
    bindings_.ForgetBuffer(indices_.buffer());
    vertices_.Destroy(gl);
    indices_.Destroy(gl);
}

void SoftwareVertexPath::FrameDone() {
    vertices_.Orphan();
    indices_.Orphan();
}

bool SoftwareVertexPath::ReserveLit(std::size_t n) {
    if (n <= litCapacity_)
        return true;
    std::unique_ptr<swvp::LitVertex[]> larger(new (std::nothrow) swvp::LitVertex[n]);
    if (!larger)
        return false;
    lit_ = std::move(larger);
    litCapacity_ = n;
    return true;
}

HRESULT SoftwareVertexPath::Draw(const DeviceState& state, const DrawConstants& constants,
                                 UINT start, UINT count) {
    const swvp::DistinctVertices::Range* range = state.stream->DistinctRange(start, count);
    if (range == nullptr)
        return D3DERR_INVALIDCALL;
    const std::size_t n = range->vertices.size();
    if (!ReserveLit(n))
        return E_OUTOFMEMORY;
    swvp::ProcessVertices(range->vertices.data(), n, constants.draw, lit_.get());

    QOpenGLExtraFunctions* gl = bindings_.gl();
    // Most of a draw's triangles lie wholly outside the view; dropping them here spares the
    // rasteriser their set-up, as a software vertex pipeline clips before rasterising.
    GLintptr indexOffset = 0;
    auto* kept = static_cast<std::uint32_t*>(indices_.Map(
        gl, GLsizeiptr(count * sizeof(std::uint32_t)), sizeof(std::uint32_t), indexOffset));
    bindings_.ForgetElementBuffer(); // Map bound it
    if (kept == nullptr)
        return E_OUTOFMEMORY;
    const std::size_t keptCount =
        swvp::KeepVisibleTriangles(lit_.get(), n, range->indices.data(), count, kept);
    if (!indices_.Unmap(gl, GLsizeiptr(keptCount * sizeof(std::uint32_t))))
        return D3DERR_INVALIDCALL;
    if (keptCount == 0)
        return D3D_OK;

    constexpr GLsizei stride = sizeof(swvp::LitVertex);
    GLintptr vertexOffset = 0;
    void* processed = vertices_.Map(gl, GLsizeiptr(n * stride), stride, vertexOffset);
    if (processed == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(processed, lit_.get(), n * stride);
    if (!vertices_.Unmap(gl, GLsizeiptr(n * stride)))
        return D3DERR_INVALIDCALL;

    ProgramKey key;
    key.software = true;
    key.texture = state.texture != nullptr;
    key.color = StageColor(state.colorOp);
    if (programs_.Use(key) == nullptr)
        return D3DERR_INVALIDCALL;
    bindings_.ApplyTexture(state.texture, state.magFilter, state.minFilter, state.mipFilter);
    if (bindings_.layoutBuffer() != vertices_.buffer()) {
        // The layout stays; each draw names its vertices' place in the stream as a base vertex.
        gl->glBindBuffer(GL_ARRAY_BUFFER, vertices_.buffer());
        gl->glEnableVertexAttribArray(kPositionAttribute);
        gl->glEnableVertexAttribArray(kSecondAttribute);
        gl->glEnableVertexAttribArray(kTexcoordAttribute);
        gl->glVertexAttribPointer(kPositionAttribute, 4, GL_FLOAT, GL_FALSE, stride, nullptr);
        gl->glVertexAttribPointer(kSecondAttribute, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                  reinterpret_cast<void*>(offsetof(swvp::LitVertex, color)));
        gl->glVertexAttribPointer(kTexcoordAttribute, 2, GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(offsetof(swvp::LitVertex, tu)));
        bindings_.SetLayoutBuffer(vertices_.buffer());
    }
    bindings_.BindElementBuffer(indices_.buffer());
    const DriverAllocations guard;
    gl->glDrawElementsBaseVertex(GL_TRIANGLES, GLsizei(keptCount), GL_UNSIGNED_INT,
                                 reinterpret_cast<const void*>(indexOffset),
                                 GLint(vertexOffset / stride));
    return D3D_OK;
}

} // namespace d3d8rt
