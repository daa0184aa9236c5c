// The benchmark's scene drawn with plain OpenGL fixed function, no Direct3D runtime in
// between: the same geometry, textures, lights and camera path, timed by the same loop, shown
// the same way (a W x H frame buffer scaled onto the full screen). It prints the triangles
// per millisecond computed as the pass computes them, so that the pass's figure divided by
// this one tells what our runtime costs.
//
//     bench_raw_gl_scene WIDTH HEIGHT DEPTH DETAIL [--screenshot FILE]
#include "bench/PassLogic.h"
#include "platform/Clock.h"
#include "platform/MemoryStatus.h"
#include "render/DXGUtils.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_0>
#include <QOpenGLVersionFunctionsFactory>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

struct Scene {
    QOpenGLFunctions_3_0* gl = nullptr;
    int width = 0, height = 0, detail = 4;
    GLuint framebuffer = 0, colour = 0, depth = 0, vertices = 0;
    GLuint textures[TextureCount] = {};

    void Cull(D3DCULL mode) const {
        // Direct3D culls by the winding on screen; GL's front faces are counter-clockwise.
        gl->glCullFace(mode == D3DCULL_CW ? GL_BACK : GL_FRONT);
    }

    void Draw(std::uint32_t t0, const D3DMATRIX& projection) {
        auto elapsed = [t0] {
            return std::int64_t{static_cast<std::uint32_t>(GetTickCount() - t0)};
        };
        const float cameraX = static_cast<float>(CameraXAt(elapsed()));
        const float cameraY = 1.0f;
        const float cameraZ = static_cast<float>(CameraZAt(elapsed()));
        const float yaw = static_cast<float>(CameraYawAt(elapsed()));

        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glViewport(0, 0, width, height);
        gl->glClearColor(0, 0, 0, 1);
        gl->glClearDepth(1.0);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

        D3DVECTOR from, at, up;
        MakeVector(from, cameraX, cameraY, cameraZ);
        MakeVector(at, cameraX + std::cos(yaw), cameraY, cameraZ + std::sin(yaw));
        MakeVector(up, 0, 1, 0);
        D3DMATRIX view;
        SetViewMatrix(view, from, at, up);

        // Direct3D's depth runs 0..1, GL's -1..1: z' = 2z - w, then the same projection.
        static const GLfloat depthFix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, -1, 1};
        gl->glMatrixMode(GL_PROJECTION);
        gl->glLoadMatrixf(depthFix);
        gl->glMultMatrixf(&projection._11);
        gl->glMatrixMode(GL_MODELVIEW);
        gl->glLoadMatrixf(&view._11);

        // Lights in world space: positioned under the view matrix.
        for (int s = 0; s < LightCount; ++s) {
            const GLfloat position[4] = {static_cast<float>(LightXAt(s, elapsed())), 1.0f,
                                         static_cast<float>(LightZAt(s, elapsed())), 1.0f};
            gl->glLightfv(GL_LIGHT0 + s, GL_POSITION, position);
        }

        const GLsizei wallVertices = 90 * detail * detail;
        const GLint floorFirst = static_cast<GLint>(FloorBlockStart(detail));
        const GLsizei tileVertices = 150 * detail * detail;
        D3DMATRIX move, turn, world;
        for (int ring = OuterRing; ring >= InnerRing; --ring) {
            const int n = RingWallCount(ring);
            const double radius = PolygonRadius(n);
            Cull(ring == InnerRing ? D3DCULL_CCW : D3DCULL_CW);
            for (int s = 0; s < n; ++s) {
                const double phi = 2 * Pi / n * (s + 0.5) + Pi / 2;
                SetTranslateMatrix(move, radius * std::cos(phi) + 100, 0,
                                   radius * std::sin(phi) + 100);
                SetRotateYMatrix(turn, -2 * Pi * s / n);
                MatrixMultiply(move, turn, world);
                gl->glLoadMatrixf(&view._11);
                gl->glMultMatrixf(&world._11);
                gl->glBindTexture(GL_TEXTURE_2D, textures[WallTextureIndex(ring, s)]);
                gl->glDrawArrays(GL_TRIANGLES, 0, wallVertices);
            }
        }
        Cull(D3DCULL_CW);
        const int tiles = TileGridSize();
        SetRotateZMatrix(turn, -3.1415927f);
        for (int a = 0; a < tiles; ++a) {
            for (int b = 0; b < tiles; ++b) {
                const double x = (b - tiles / 2) * 5 + 100;
                const double z = (a - tiles / 2) * 5 + 100;
                SetTranslateMatrix(world, x, 0, z);
                gl->glLoadMatrixf(&view._11);
                gl->glMultMatrixf(&world._11);
                gl->glBindTexture(GL_TEXTURE_2D, textures[TextureCount - 2]);
                gl->glDrawArrays(GL_TRIANGLES, floorFirst, tileVertices);

                SetTranslateMatrix(move, x, 3, z);
                MatrixMultiply(move, turn, world);
                gl->glLoadMatrixf(&view._11);
                gl->glMultMatrixf(&world._11);
                gl->glBindTexture(GL_TEXTURE_2D, textures[TextureCount - 1]);
                gl->glDrawArrays(GL_TRIANGLES, floorFirst, tileVertices);
            }
        }
    }

    // Scaled onto the whole window with the aspect kept, as the runtime presents.
    void Present(QOpenGLContext& context, QWindow& window) {
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
        gl->glClearColor(0, 0, 0, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        gl->glBlitFramebuffer(0, 0, width, height, dx, dy, dx + dw, dy + dh, GL_COLOR_BUFFER_BIT,
                              GL_LINEAR);
        context.swapBuffers(&window);
    }

    bool Save(const char* file) {
        QImage image(width, height, QImage::Format_RGBA8888);
        gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        gl->glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
        return image.mirrored().save(QString::fromLocal8Bit(file), "PNG");
    }
};

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_raw_gl_scene WIDTH HEIGHT DEPTH DETAIL [--screenshot FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 5 && argc != 7)
        return Usage();
    Scene scene;
    scene.width = std::atoi(argv[1]);
    scene.height = std::atoi(argv[2]);
    const int depth = std::atoi(argv[3]);
    scene.detail = std::atoi(argv[4]);
    const char* screenshot = argc == 7 ? argv[6] : nullptr;
    if (scene.width <= 0 || scene.height <= 0 || scene.detail < 1 || scene.detail > 16 ||
        (argc == 7 && std::strcmp(argv[5], "--screenshot") != 0))
        return Usage();

    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(1);

    QWindow window;
    window.setSurfaceType(QSurface::OpenGLSurface);
    window.setFormat(format);
    window.setFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.showFullScreen();
    QElapsedTimer wait;
    wait.start();
    while (!window.isExposed() && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create() || !context.makeCurrent(&window)) {
        std::fprintf(stderr, "no OpenGL context\n");
        return 1;
    }
    scene.gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_0>(&context);
    if (scene.gl == nullptr || !scene.gl->initializeOpenGLFunctions()) {
        std::fprintf(stderr, "OpenGL 3.0 compatibility functions are missing\n");
        return 1;
    }
    QOpenGLFunctions_3_0* gl = scene.gl;

    // The W x H back buffer with a 16-bit depth buffer.
    gl->glGenFramebuffers(1, &scene.framebuffer);
    gl->glGenRenderbuffers(1, &scene.colour);
    gl->glGenRenderbuffers(1, &scene.depth);
    gl->glBindRenderbuffer(GL_RENDERBUFFER, scene.colour);
    gl->glRenderbufferStorage(GL_RENDERBUFFER, depth == 16 ? GL_RGB565 : GL_RGB8, scene.width,
                              scene.height);
    gl->glBindRenderbuffer(GL_RENDERBUFFER, scene.depth);
    gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, scene.width, scene.height);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, scene.framebuffer);
    gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                  scene.colour);
    gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                  scene.depth);
    if (gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        std::fprintf(stderr, "the frame buffer is incomplete\n");
        return 1;
    }

    {
        std::vector<TSceneVertex> vertices(SceneVertexCount(scene.detail));
        WriteSceneGeometry(vertices.data(), scene.detail);
        gl->glGenBuffers(1, &scene.vertices);
        gl->glBindBuffer(GL_ARRAY_BUFFER, scene.vertices);
        gl->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(TSceneVertex)),
                         vertices.data(), GL_STATIC_DRAW);
    }
    gl->glEnableClientState(GL_VERTEX_ARRAY);
    gl->glEnableClientState(GL_NORMAL_ARRAY);
    gl->glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    gl->glVertexPointer(3, GL_FLOAT, sizeof(TSceneVertex), nullptr);
    gl->glNormalPointer(GL_FLOAT, sizeof(TSceneVertex), reinterpret_cast<void*>(12));
    gl->glTexCoordPointer(2, GL_FLOAT, sizeof(TSceneVertex), reinterpret_cast<void*>(24));

    {
        std::vector<std::uint32_t> pixels(1024 * 1024);
        gl->glGenTextures(TextureCount, scene.textures);
        for (int i = 0; i < TextureCount; ++i) {
            PrepareTexture(1, static_cast<unsigned>(i), pixels.data());
            gl->glBindTexture(GL_TEXTURE_2D, scene.textures[i]);
            gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 1024, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                             pixels.data());
            gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
            gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        }
    }
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
    for (int s = 0; s < LightCount; ++s) {
        const GLenum light = GL_LIGHT0 + s;
        gl->glEnable(light);
        gl->glLightfv(light, GL_DIFFUSE, one);
        gl->glLightfv(light, GL_SPECULAR, one);
        gl->glLightfv(light, GL_AMBIENT, none);
        gl->glLightf(light, GL_CONSTANT_ATTENUATION, 0);
        gl->glLightf(light, GL_LINEAR_ATTENUATION, 5);
        gl->glLightf(light, GL_QUADRATIC_ATTENUATION, 0);
    }

    D3DMATRIX projection;
    SetProjectionMatrix(projection, 1.0, 0.75, 0.5, 250);
    bool shot = screenshot == nullptr;
    std::uint32_t measuring = 0;
    std::uint32_t frames = 0;
    TFrameLoopHooks hooks;
    hooks.Clock = [] { return GetTickCount(); };
    hooks.DrawFrame = [&](std::uint32_t t0) {
        scene.Draw(t0, projection);
        if (!shot && ++frames > 3) {
            if (measuring == 0)
                measuring = t0;
            if (GetTickCount() - measuring >= MeasuredDurationMs / 2) {
                shot = true;
                scene.Save(screenshot);
            }
        }
        scene.Present(context, window);
    };
    // The pass takes a memory snapshot inside every measured frame; so does this.
    hooks.AfterFrame = [] { [[maybe_unused]] const auto status = GlobalMemoryStatus(); };
    hooks.PumpMessages = [] { QCoreApplication::processEvents(); };
    hooks.Stopped = [] { return false; };
    const TFrameStats stats = RunFrameLoop(hooks);

    const double g = std::exp(stats.SumLog / stats.N);
    std::printf("{\"Width\":%d,\"Height\":%d,\"Depth\":%d,\"DetailLevel\":%d,"
                "\"TrianglesPerMs\":%.6g,\"Fps\":%.6g,\"FrameCount\":%u,\"TotalTimeMs\":%lld,"
                "\"Renderer\":\"%s\"}\n",
                scene.width, scene.height, depth, scene.detail,
                FrameTriangleCount(scene.detail) / g, 1000.0 / g, stats.N,
                static_cast<long long>(stats.SumMs),
                reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER)));

    gl->glDeleteTextures(TextureCount, scene.textures);
    gl->glDeleteBuffers(1, &scene.vertices);
    gl->glDeleteRenderbuffers(1, &scene.colour);
    gl->glDeleteRenderbuffers(1, &scene.depth);
    gl->glDeleteFramebuffers(1, &scene.framebuffer);
    context.doneCurrent();
    return 0;
}
