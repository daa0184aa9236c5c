// What the device's GL context has bound and enabled now, so a draw or upload only changes
// what differs. Shared by the resources' uploads and both vertex paths.
#pragma once

#include "d3d8/D3D8.h"

#include <QOpenGLExtraFunctions>

namespace d3d8rt {

class Texture;

// Vertex attribute locations shared by every program, so one layout per path is enough.
constexpr GLuint kPositionAttribute = 0, kSecondAttribute = 1, kTexcoordAttribute = 2;

class GlBindings {
public:
    // Forgets everything: a new context has nothing bound.
    void Reset(QOpenGLExtraFunctions* gl) {
        *this = GlBindings{};
        gl_ = gl;
    }
    QOpenGLExtraFunctions* gl() const { return gl_; }

    void UseProgram(GLuint program);
    GLuint program() const { return program_; }
    void BindTexture(GLuint texture);
    // Binds the texture of stage 0 with the stage's filters.
    void ApplyTexture(Texture* texture, DWORD magFilter, DWORD minFilter, DWORD mipFilter);
    void ApplyRaster(bool depthTest, DWORD cullMode);

    // The buffer the vertex attribute pointers read: a path sets its layout only when this
    // is not its buffer.
    GLuint layoutBuffer() const { return layoutBuffer_; }
    void SetLayoutBuffer(GLuint buffer) { layoutBuffer_ = buffer; }
    void InvalidateLayout() { layoutBuffer_ = ~0u; }
    // The index buffer indexed draws read.
    void BindElementBuffer(GLuint buffer);
    // Something else bound the element buffer: the next BindElementBuffer binds again.
    void ForgetElementBuffer() { elementBuffer_ = ~0u; }

    // A GL object is going away: forget it if bound.
    void ForgetTexture(GLuint texture);
    void ForgetBuffer(GLuint buffer);

private:
    QOpenGLExtraFunctions* gl_ = nullptr;
    GLuint program_ = 0;
    GLuint texture_ = 0;
    GLuint layoutBuffer_ = ~0u; // 0 = none
    GLuint elementBuffer_ = ~0u;
    int depth_ = -1, cull_ = -1;
};

} // namespace d3d8rt
