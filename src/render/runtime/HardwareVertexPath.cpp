#include "render/runtime/HardwareVertexPath.h"

#include "render/runtime/DriverAllocations.h"
#include "render/runtime/Objects.h"

namespace d3d8rt {

HRESULT HardwareVertexPath::Draw(const DeviceState& state, const DrawConstants& constants,
                                 UINT start, UINT count) {
    const swvp::DrawState& s = constants.draw;
    const tnl::Lighting& l = constants.lighting;
    ProgramKey key;
    key.lighting = s.lighting;
    key.lightCount = std::uint8_t(l.lightCount);
    key.lightAmbient = s.lighting && l.anyAmbient;
    key.texture = state.texture != nullptr;
    key.color = StageColor(state.colorOp);
    Program* p = programs_.Use(key);
    if (p == nullptr)
        return D3DERR_INVALIDCALL;
    QOpenGLExtraFunctions* gl = bindings_.gl();
    if (p->matrices != constants.matrixGeneration) {
        gl->glUniformMatrix4fv(p->clipFromObject, 1, GL_FALSE, &s.clipFromObject.m[0][0]);
        if (s.lighting) {
            gl->glUniformMatrix4fv(p->cameraFromObject, 1, GL_FALSE, &s.cameraFromObject.m[0][0]);
            // Row-major rows for row vectors read as GL's column-major columns: the same
            // product as the CPU kernel's.
            gl->glUniformMatrix3fv(p->normalMatrix, 1, GL_FALSE, &constants.normalMatrix[0][0]);
        }
        p->matrices = constants.matrixGeneration;
    }
    if (s.lighting && p->lights != constants.lightGeneration) {
        gl->glUniform4fv(p->base, 1, l.base);
        if (l.lightCount > 0) {
            gl->glUniform3fv(p->lightPosition, l.lightCount, l.position[0]);
            gl->glUniform3fv(p->lightDiffuse, l.lightCount, l.diffuse[0]);
            if (l.anyAmbient)
                gl->glUniform3fv(p->lightAmbient, l.lightCount, l.ambient[0]);
            gl->glUniform4fv(p->lightAttenuation, l.lightCount, l.attenuation[0]);
        }
        p->lights = constants.lightGeneration;
    }
    bindings_.ApplyTexture(state.texture, state.magFilter, state.minFilter, state.mipFilter);
    const IndexedRange* indexed = state.stream->IndexedRangeOf(start, count);
    const GLuint buffer = indexed != nullptr ? indexed->vertices : state.stream->buffer();
    if (bindings_.layoutBuffer() != buffer) {
        const auto stride = GLsizei(state.stride);
        gl->glBindBuffer(GL_ARRAY_BUFFER, buffer);
        gl->glEnableVertexAttribArray(kPositionAttribute);
        gl->glEnableVertexAttribArray(kSecondAttribute);
        gl->glEnableVertexAttribArray(kTexcoordAttribute);
        gl->glVertexAttribPointer(kPositionAttribute, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
        gl->glVertexAttribPointer(kSecondAttribute, 3, GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(12));
        gl->glVertexAttribPointer(kTexcoordAttribute, 2, GL_FLOAT, GL_FALSE, stride,
                                  reinterpret_cast<void*>(24));
        bindings_.SetLayoutBuffer(buffer);
    }
    const DriverAllocations guard;
    if (indexed != nullptr) {
        bindings_.BindElementBuffer(indexed->indices);
        gl->glDrawElements(GL_TRIANGLES, indexed->count, GL_UNSIGNED_INT, nullptr);
    } else {
        gl->glDrawArrays(GL_TRIANGLES, GLint(start), GLsizei(count));
    }
    return D3D_OK;
}

} // namespace d3d8rt
