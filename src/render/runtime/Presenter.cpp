#include "render/runtime/Presenter.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace d3d8rt {

namespace {

constexpr int kExposeWaitMs = 2000;

} // namespace

Presenter::Presenter(QWindow* window, const D3DPRESENT_PARAMETERS& params)
    : window_(window), params_(params), hasDepth_(params.EnableAutoDepthStencil != 0),
      width_(int(params.BackBufferWidth)), height_(int(params.BackBufferHeight)) {}

Presenter::~Presenter() {
    Destroy();
}

bool Presenter::Create() {
    if (!TakeOverWindow())
        return false;
    gl_ = context_->extraFunctions();
    if (gl_ == nullptr || context_->format().majorVersion() < 3 || !BuildFramebuffers())
        return false;
    ApplyFixedState();
    return true;
}

void Presenter::Destroy() {
    if (context_ != nullptr && MakeCurrent()) {
        if (gl_ != nullptr) {
            gl_->glBindFramebuffer(GL_FRAMEBUFFER, 0);
            gl_->glDeleteFramebuffers(2, framebuffers_);
            gl_->glDeleteRenderbuffers(2, colorBuffers_);
            if (depthBuffer_ != 0)
                gl_->glDeleteRenderbuffers(1, &depthBuffer_);
        }
        context_->doneCurrent();
    }
    gl_ = nullptr;
    delete context_;
    context_ = nullptr;
    delete fallbackSurface_;
    fallbackSurface_ = nullptr;
}

bool Presenter::TakeOverWindow() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || window_.isNull())
        return false;
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(
        params_.FullScreen_PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
    QWindow* window = window_.data();
    // The surface type and swap interval are fixed when the platform window is made.
    const bool suitable = window->surfaceType() == QSurface::OpenGLSurface &&
                          window->requestedFormat().swapInterval() == format.swapInterval() &&
                          window->requestedFormat().profile() == format.profile();
    if (!suitable) {
        if (window->handle() != nullptr)
            window->destroy();
        window->setSurfaceType(QSurface::OpenGLSurface);
        window->setFormat(format);
    }
    window->setFlags(window->flags() | Qt::FramelessWindowHint);
    window->setScreen(screen);
    window->setGeometry(screen->geometry());
    window->showFullScreen();
    window->requestActivate();
    // Let the window appear; the program's own keys stay queued for its message pump.
    QElapsedTimer timer;
    timer.start();
    while (!window_.isNull() && !window_->isExposed() && timer.elapsed() < kExposeWaitMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    if (window_.isNull() || window_->handle() == nullptr)
        return false;

    context_ = new QOpenGLContext;
    context_->setFormat(format);
    context_->setScreen(screen);
    fallbackSurface_ = new QOffscreenSurface(screen);
    fallbackSurface_->setFormat(format);
    fallbackSurface_->create();
    return context_->create() && MakeCurrent();
}

bool Presenter::BuildFramebuffers() {
    const GLenum colorFormat = params_.BackBufferFormat == D3DFMT_R5G6B5 ? GL_RGB565 : GL_RGB8;
    gl_->glGenRenderbuffers(2, colorBuffers_);
    gl_->glGenFramebuffers(2, framebuffers_);
    if (hasDepth_) {
        gl_->glGenRenderbuffers(1, &depthBuffer_);
        gl_->glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
        gl_->glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width_, height_);
    }
    for (int i = 0; i < 2; ++i) {
        gl_->glBindRenderbuffer(GL_RENDERBUFFER, colorBuffers_[i]);
        gl_->glRenderbufferStorage(GL_RENDERBUFFER, colorFormat, width_, height_);
        gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[i]);
        gl_->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                       colorBuffers_[i]);
        if (hasDepth_)
            gl_->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                           depthBuffer_);
        if (gl_->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            return false;
        gl_->glClearColor(0, 0, 0, 1);
        gl_->glClearDepthf(1.0f);
        gl_->glClear(GL_COLOR_BUFFER_BIT | (hasDepth_ ? GL_DEPTH_BUFFER_BIT : 0));
    }
    back_ = 0;
    gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[back_]);
    return true;
}

void Presenter::ApplyFixedState() {
    gl_->glViewport(0, 0, width_, height_);
    gl_->glDisable(GL_DITHER); // D3DRS_DITHERENABLE is off by default
    gl_->glDepthFunc(GL_LEQUAL);
    gl_->glFrontFace(GL_CW); // Direct3D's front faces are clockwise as seen on screen
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl_->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl_->glActiveTexture(GL_TEXTURE0);
}

bool Presenter::MakeCurrent() {
    if (context_ == nullptr)
        return false;
    QSurface* surface = nullptr;
    if (!window_.isNull() && window_->handle() != nullptr)
        surface = window_.data();
    else if (fallbackSurface_ != nullptr && fallbackSurface_->isValid())
        surface = fallbackSurface_;
    if (surface == nullptr)
        return false;
    if (QOpenGLContext::currentContext() == context_ && context_->surface() == surface)
        return true;
    const bool ok = context_->makeCurrent(surface);
    if (ok && gl_ != nullptr && framebuffers_[back_] != 0)
        gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[back_]);
    return ok;
}

void Presenter::Clear(const D3DRECT* rects, DWORD count, bool target, D3DCOLOR color, bool depth,
                      float z) {
    GLbitfield mask = 0;
    if (target) {
        gl_->glClearColor(float((color >> 16) & 0xFF) / 255.0f, float((color >> 8) & 0xFF) / 255.0f,
                          float(color & 0xFF) / 255.0f, 1.0f);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (depth) {
        gl_->glClearDepthf(z);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (count == 0) {
        gl_->glClear(mask);
        return;
    }
    gl_->glEnable(GL_SCISSOR_TEST);
    for (DWORD i = 0; i < count; ++i) {
        const LONG x1 = std::max<LONG>(0, rects[i].x1), y1 = std::max<LONG>(0, rects[i].y1);
        const LONG x2 = std::min<LONG>(width_, rects[i].x2);
        const LONG y2 = std::min<LONG>(height_, rects[i].y2);
        if (x1 >= x2 || y1 >= y2)
            continue;
        gl_->glScissor(x1, height_ - y2, x2 - x1, y2 - y1); // rectangles are y-down
        gl_->glClear(mask);
    }
    gl_->glDisable(GL_SCISSOR_TEST);
}

void Presenter::Present() {
    if (!window_.isNull() && window_->isExposed()) {
        const qreal ratio = window_->devicePixelRatio();
        const int ww = int(std::lround(window_->width() * ratio));
        const int wh = int(std::lround(window_->height() * ratio));
        // Scaled with the aspect kept; black bars fill the rest.
        int dw = ww, dh = int(std::lround(double(ww) * height_ / width_));
        if (dh > wh) {
            dh = wh;
            dw = int(std::lround(double(wh) * width_ / height_));
        }
        const int dx = (ww - dw) / 2, dy = (wh - dh) / 2;
        gl_->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context_->defaultFramebufferObject());
        gl_->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[back_]);
        if (dw < ww || dh < wh) {
            // Bars only where the picture leaves room: a full-window clear costs a frame of
            // fill on a software renderer.
            gl_->glClearColor(0, 0, 0, 1);
            gl_->glClear(GL_COLOR_BUFFER_BIT);
        }
        gl_->glBlitFramebuffer(0, 0, width_, height_, dx, dy, dx + dw, dy + dh, GL_COLOR_BUFFER_BIT,
                               GL_LINEAR);
        context_->swapBuffers(window_.data());
    } else {
        gl_->glFlush();
    }
    if (params_.SwapEffect == D3DSWAPEFFECT_DISCARD) {
        // The presented buffer becomes the front picture; the other one is drawn next.
        back_ = 1 - back_;
    } else {
        // Flip and copy keep the back buffer as it was.
        gl_->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[back_]);
        gl_->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffers_[1 - back_]);
        gl_->glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT,
                               GL_NEAREST);
    }
    gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[back_]);
}

void Presenter::ReadFront(BYTE* pixels) {
    const int front = 1 - back_;
    gl_->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[front]);
    gl_->glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[back_]);
    // GL's rows run bottom-up; the surface's run top-down like the screen.
    const std::size_t pitch = std::size_t(width_) * 4;
    for (int top = 0, bottom = height_ - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels + top * pitch, pixels + (top + 1) * pitch, pixels + bottom * pitch);
    for (std::size_t i = 3; i < pitch * std::size_t(height_); i += 4)
        pixels[i] = 0xFF;
}

} // namespace d3d8rt
