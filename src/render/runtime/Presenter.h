// The device's window and picture: takes over the focus window full screen, owns the OpenGL
// context and the back-buffer framebuffers, shows the back buffer on Present and reads the
// front picture back.
#pragma once

#include "d3d8/D3D8.h"

#include <QOpenGLExtraFunctions>
#include <QPointer>
#include <QWindow>

class QOpenGLContext;
class QOffscreenSurface;

namespace d3d8rt {

class Presenter {
public:
    // `params` are already validated.
    Presenter(QWindow* window, const D3DPRESENT_PARAMETERS& params);
    ~Presenter();
    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

    // Shows the window, makes the context (OpenGL 3 at least) and the framebuffers.
    bool Create();
    // Deletes the GL objects and the context; safe to call twice.
    void Destroy();
    // The context current on the window, or on a hidden surface once the window is gone, with
    // the back buffer bound.
    bool MakeCurrent();

    QOpenGLExtraFunctions* gl() const { return gl_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool hasDepth() const { return hasDepth_; }

    // Clears the back buffer: all of it without rectangles, else each (y-down) rectangle
    // clipped to it. `color` is used with `target`, `z` with `depth`.
    void Clear(const D3DRECT* rects, DWORD count, bool target, D3DCOLOR color, bool depth, float z);
    // Shows the back buffer scaled onto the window, then swaps as the swap effect says.
    void Present();
    // The last presented picture as top-down rows of opaque 0xAARRGGBB, width x height.
    void ReadFront(BYTE* pixels);

private:
    bool TakeOverWindow();
    bool BuildFramebuffers();
    void ApplyFixedState();

    QPointer<QWindow> window_;
    D3DPRESENT_PARAMETERS params_;
    QOpenGLContext* context_ = nullptr;
    QOffscreenSurface* fallbackSurface_ = nullptr;
    QOpenGLExtraFunctions* gl_ = nullptr;
    // Two colour buffers take turns as back buffer and last presented picture; one depth
    // buffer serves both.
    GLuint framebuffers_[2] = {};
    GLuint colorBuffers_[2] = {};
    GLuint depthBuffer_ = 0;
    int back_ = 0;
    bool hasDepth_ = false;
    int width_ = 0, height_ = 0;
};

} // namespace d3d8rt
