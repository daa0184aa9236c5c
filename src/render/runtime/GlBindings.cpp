#include "render/runtime/GlBindings.h"

#include "render/runtime/Objects.h"

namespace d3d8rt {

void GlBindings::UseProgram(GLuint program) {
    if (program_ != program) {
        gl_->glUseProgram(program);
        program_ = program;
    }
}

void GlBindings::BindTexture(GLuint texture) {
    if (texture_ != texture) {
        gl_->glBindTexture(GL_TEXTURE_2D, texture);
        texture_ = texture;
    }
}

void GlBindings::ApplyTexture(Texture* texture, DWORD magFilter, DWORD minFilter, DWORD mipFilter) {
    if (texture == nullptr)
        return;
    BindTexture(texture->texture());
    const GLint mag = magFilter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
    GLint min = minFilter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
    if (mipFilter == D3DTEXF_POINT)
        min = minFilter == D3DTEXF_LINEAR ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else if (mipFilter == D3DTEXF_LINEAR)
        min = minFilter == D3DTEXF_LINEAR ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    if (texture->appliedMag != mag) {
        gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
        texture->appliedMag = mag;
    }
    if (texture->appliedMin != min) {
        gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
        texture->appliedMin = min;
    }
}

void GlBindings::BindElementBuffer(GLuint buffer) {
    if (elementBuffer_ != buffer) {
        gl_->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
        elementBuffer_ = buffer;
    }
}

void GlBindings::ApplyRaster(bool depthTest, DWORD cullMode) {
    const int depth = depthTest ? 1 : 0;
    if (depth != depth_) {
        depth ? gl_->glEnable(GL_DEPTH_TEST) : gl_->glDisable(GL_DEPTH_TEST);
        depth_ = depth;
    }
    if (int(cullMode) != cull_) {
        // GL's back faces are Direct3D's counter-clockwise ones.
        if (cullMode == D3DCULL_NONE) {
            gl_->glDisable(GL_CULL_FACE);
        } else {
            gl_->glEnable(GL_CULL_FACE);
            gl_->glCullFace(cullMode == D3DCULL_CCW ? GL_BACK : GL_FRONT);
        }
        cull_ = int(cullMode);
    }
}

void GlBindings::ForgetTexture(GLuint texture) {
    if (texture_ == texture)
        texture_ = 0;
}

void GlBindings::ForgetBuffer(GLuint buffer) {
    if (layoutBuffer_ == buffer)
        layoutBuffer_ = ~0u;
    if (elementBuffer_ == buffer)
        elementBuffer_ = ~0u;
}

} // namespace d3d8rt
