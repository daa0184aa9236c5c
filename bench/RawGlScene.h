// Plain OpenGL fixed function through Qt, with no Direct3D runtime in between: the window,
// back buffer, state and presentation shared by the benchmark programs that draw the scene's
// load this way. It mirrors what the runtime does around the draws (a W x H frame buffer with
// a 16-bit depth buffer, scaled onto a full-screen window), so that only the vertex and pixel
// work differs between the two.
#pragma once

#include "render/DXGUtils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_0>
#include <QOpenGLVersionFunctionsFactory>
#include <QScreen>
#include <QString>
#include <QSurfaceFormat>
#include <QWindow>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace rawgl {

// A full-screen window with a compatibility context, and the W x H back buffer drawn into.
class Screen {
public:
    Screen() = default;
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    ~Screen() {
        if (gl != nullptr && context.makeCurrent(&window)) {
            gl->glDeleteRenderbuffers(1, &colour);
            gl->glDeleteRenderbuffers(1, &depth);
            gl->glDeleteFramebuffers(1, &framebuffer);
            context.doneCurrent();
        }
    }

    // False, having said why on stderr, when there is no such context or frame buffer.
    bool Open(int w, int h, int colourBits, bool waitForRetrace) {
        width = w;
        height = h;
        QSurfaceFormat format;
        format.setRenderableType(QSurfaceFormat::OpenGL);
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
        format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
        format.setSwapInterval(waitForRetrace ? 1 : 0);

        window.setSurfaceType(QSurface::OpenGLSurface);
        window.setFormat(format);
        window.setFlags(Qt::Window | Qt::FramelessWindowHint);
        window.setGeometry(QGuiApplication::primaryScreen()->geometry());
        window.showFullScreen();
        QElapsedTimer wait;
        wait.start();
        while (!window.isExposed() && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

        context.setFormat(format);
        if (!context.create() || !context.makeCurrent(&window)) {
            std::fprintf(stderr, "no OpenGL context\n");
            return false;
        }
        gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_0>(&context);
        if (gl == nullptr || !gl->initializeOpenGLFunctions()) {
            gl = nullptr;
            std::fprintf(stderr, "OpenGL 3.0 compatibility functions are missing\n");
            return false;
        }

        gl->glGenFramebuffers(1, &framebuffer);
        gl->glGenRenderbuffers(1, &colour);
        gl->glGenRenderbuffers(1, &depth);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, colour);
        gl->glRenderbufferStorage(GL_RENDERBUFFER, colourBits == 16 ? GL_RGB565 : GL_RGB8, width,
                                  height);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, depth);
        gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                      colour);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
        if (gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            std::fprintf(stderr, "the frame buffer is incomplete\n");
            return false;
        }
        return true;
    }

    // Binds the back buffer and clears it to black at the far plane.
    void BeginFrame() const {
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glViewport(0, 0, width, height);
        gl->glClearColor(0, 0, 0, 1);
        gl->glClearDepth(1.0);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    // Scaled onto the whole window with the aspect kept, as the runtime presents.
    void Present() {
        const qreal ratio = window.devicePixelRatio();
        const int ww = int(std::lround(window.width() * ratio));
        const int wh = int(std::lround(window.height() * ratio));
        int dw = ww, dh = int(std::lround(double(ww) * height / width));
        if (dh > wh) {
            dh = wh;
            dw = int(std::lround(double(wh) * width / height));
        }
        const int dx = (ww - dw) / 2, dy = (wh - dh) / 2;
        gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context.defaultFramebufferObject());
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        if (dw < ww || dh < wh) {
            gl->glClearColor(0, 0, 0, 1);
            gl->glClear(GL_COLOR_BUFFER_BIT);
        }
        gl->glBlitFramebuffer(0, 0, width, height, dx, dy, dx + dw, dy + dh, GL_COLOR_BUFFER_BIT,
                              GL_LINEAR);
        context.swapBuffers(&window);
    }

    bool Save(const char* file) const {
        QImage image(width, height, QImage::Format_RGBA8888);
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        gl->glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        return image.mirrored().save(QString::fromLocal8Bit(file), "PNG");
    }

    const char* Renderer() const {
        return reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER));
    }

    QOpenGLFunctions_3_0* gl = nullptr;
    int width = 0, height = 0;

private:
    // Declared before the context, so the context goes first.
    QWindow window;
    QOpenGLContext context;
    GLuint framebuffer = 0, colour = 0, depth = 0;
};

// Uploads XYZ|NORMAL|TEX1 vertices (32 bytes each) to a buffer and points the fixed-function
// arrays at it; the buffer stays bound.
template <class Vertex>
GLuint UploadVertices(QOpenGLFunctions_3_0* gl, const Vertex* vertices, std::size_t count) {
    static_assert(sizeof(Vertex) == 32, "position, normal and one texture coordinate pair");
    GLuint buffer = 0;
    gl->glGenBuffers(1, &buffer);
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffer);
    gl->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(count * sizeof(Vertex)), vertices, GL_STATIC_DRAW);
    gl->glEnableClientState(GL_VERTEX_ARRAY);
    gl->glEnableClientState(GL_NORMAL_ARRAY);
    gl->glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    gl->glVertexPointer(3, GL_FLOAT, sizeof(Vertex), nullptr);
    gl->glNormalPointer(GL_FLOAT, sizeof(Vertex), reinterpret_cast<void*>(12));
    gl->glTexCoordPointer(2, GL_FLOAT, sizeof(Vertex), reinterpret_cast<void*>(24));
    return buffer;
}

// A size x size texture from 32-bit A8R8G8B8 pixels, one level sampled by the nearest texel
// (the scene's point filtering without mipmaps).
inline GLuint UploadTexture(QOpenGLFunctions_3_0* gl, const std::uint32_t* pixels, int size) {
    GLuint texture = 0;
    gl->glGenTextures(1, &texture);
    gl->glBindTexture(GL_TEXTURE_2D, texture);
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size, size, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    return texture;
}

// The scene's fixed state: texture modulated by the lit colour, depth test, back faces culled,
// global ambient 0x00CCCCCC on a white material, and `lights` white point lights attenuated
// 0/5/0 (they are positioned each frame).
inline void ApplySceneState(QOpenGLFunctions_3_0* gl, int lights) {
    gl->glEnable(GL_TEXTURE_2D);
    gl->glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glDepthFunc(GL_LEQUAL);
    gl->glEnable(GL_CULL_FACE);
    gl->glFrontFace(GL_CCW);
    gl->glEnable(GL_LIGHTING);
    const GLfloat ambient[4] = {0.8f, 0.8f, 0.8f, 1.0f}; // 0x00CCCCCC
    gl->glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    const GLfloat one[4] = {1, 1, 1, 1};
    const GLfloat none[4] = {0, 0, 0, 1};
    gl->glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, one);
    gl->glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, one);
    gl->glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, none);
    for (int s = 0; s < lights; ++s) {
        const GLenum light = GL_LIGHT0 + s;
        gl->glEnable(light);
        gl->glLightfv(light, GL_DIFFUSE, one);
        gl->glLightfv(light, GL_SPECULAR, one);
        gl->glLightfv(light, GL_AMBIENT, none);
        gl->glLightf(light, GL_CONSTANT_ATTENUATION, 0);
        gl->glLightf(light, GL_LINEAR_ATTENUATION, 5);
        gl->glLightf(light, GL_QUADRATIC_ATTENUATION, 0);
    }
}

// Loads a Direct3D projection, leaving the model-view matrix current.
inline void LoadProjection(QOpenGLFunctions_3_0* gl, const D3DMATRIX& projection) {
    // Direct3D's depth runs 0..1, GL's -1..1: z' = 2z - w, then the same projection.
    static const GLfloat depthFix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, -1, 1};
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadMatrixf(depthFix);
    gl->glMultMatrixf(&projection._11);
    gl->glMatrixMode(GL_MODELVIEW);
}

inline void LoadWorldView(QOpenGLFunctions_3_0* gl, const D3DMATRIX& view, const D3DMATRIX& world) {
    gl->glLoadMatrixf(&view._11);
    gl->glMultMatrixf(&world._11);
}

// A point light at a world position; the model-view matrix must hold the view alone.
inline void PositionLight(QOpenGLFunctions_3_0* gl, int index, float x, float y, float z) {
    const GLfloat position[4] = {x, y, z, 1.0f};
    gl->glLightfv(GL_LIGHT0 + index, GL_POSITION, position);
}

inline void Cull(QOpenGLFunctions_3_0* gl, D3DCULL mode) {
    // Direct3D culls by the winding on screen; GL's front faces are counter-clockwise.
    gl->glCullFace(mode == D3DCULL_CW ? GL_BACK : GL_FRONT);
}

} // namespace rawgl
