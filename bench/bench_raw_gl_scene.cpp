// The benchmark's scene drawn with plain OpenGL fixed function, no Direct3D runtime in
// between: the same geometry, textures, lights and camera path, timed by the same loop, shown
// the same way (a W x H frame buffer scaled onto the full screen). It prints the triangles
// per millisecond computed as the pass computes them, so that the pass's figure divided by
// this one tells what our runtime costs.
//
//     bench_raw_gl_scene WIDTH HEIGHT DEPTH DETAIL [--screenshot FILE]
#include "render/TextureSet.h"
#include "RawGlScene.h"
#include "bench/PassLogic.h"
#include "platform/Clock.h"
#include "platform/MemoryStatus.h"
#include "render/DXGUtils.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

struct Scene {
    rawgl::Screen screen;
    QOpenGLFunctions_3_0* gl = nullptr;
    int detail = 4;
    GLuint vertices = 0;
    GLuint textures[TextureCount] = {};

    void Draw(std::uint32_t t0, const D3DMATRIX& projection) {
        auto elapsed = [t0] {
            return std::int64_t{static_cast<std::uint32_t>(GetTickCount() - t0)};
        };
        const float cameraX = static_cast<float>(CameraXAt(elapsed()));
        const float cameraY = 1.0f;
        const float cameraZ = static_cast<float>(CameraZAt(elapsed()));
        const float yaw = static_cast<float>(CameraYawAt(elapsed()));

        screen.BeginFrame();

        D3DVECTOR from, at, up;
        MakeVector(from, cameraX, cameraY, cameraZ);
        MakeVector(at, cameraX + std::cos(yaw), cameraY, cameraZ + std::sin(yaw));
        MakeVector(up, 0, 1, 0);
        D3DMATRIX view;
        SetViewMatrix(view, from, at, up);

        rawgl::LoadProjection(gl, projection);
        gl->glLoadMatrixf(&view._11);

        // Lights in world space: positioned under the view matrix.
        for (int s = 0; s < LightCount; ++s)
            rawgl::PositionLight(gl, s, static_cast<float>(LightXAt(s, elapsed())), 1.0f,
                                 static_cast<float>(LightZAt(s, elapsed())));

        const GLsizei wallVertices = 90 * detail * detail;
        const GLint floorFirst = static_cast<GLint>(FloorBlockStart(detail));
        const GLsizei tileVertices = 150 * detail * detail;
        D3DMATRIX move, turn, world;
        for (int ring = OuterRing; ring >= InnerRing; --ring) {
            const int n = RingWallCount(ring);
            const double radius = PolygonRadius(n);
            rawgl::Cull(gl, ring == InnerRing ? D3DCULL_CCW : D3DCULL_CW);
            for (int s = 0; s < n; ++s) {
                const double phi = 2 * Pi / n * (s + 0.5) + Pi / 2;
                SetTranslateMatrix(move, radius * std::cos(phi) + 100, 0,
                                   radius * std::sin(phi) + 100);
                SetRotateYMatrix(turn, -2 * Pi * s / n);
                MatrixMultiply(move, turn, world);
                rawgl::LoadWorldView(gl, view, world);
                gl->glBindTexture(GL_TEXTURE_2D, textures[WallTextureIndex(ring, s)]);
                gl->glDrawArrays(GL_TRIANGLES, 0, wallVertices);
            }
        }
        rawgl::Cull(gl, D3DCULL_CW);
        const int tiles = TileGridSize();
        SetRotateZMatrix(turn, -3.1415927f);
        for (int a = 0; a < tiles; ++a) {
            for (int b = 0; b < tiles; ++b) {
                const double x = (b - tiles / 2) * 5 + 100;
                const double z = (a - tiles / 2) * 5 + 100;
                SetTranslateMatrix(world, x, 0, z);
                rawgl::LoadWorldView(gl, view, world);
                gl->glBindTexture(GL_TEXTURE_2D, textures[TextureCount - 2]);
                gl->glDrawArrays(GL_TRIANGLES, floorFirst, tileVertices);

                SetTranslateMatrix(move, x, 3, z);
                MatrixMultiply(move, turn, world);
                rawgl::LoadWorldView(gl, view, world);
                gl->glBindTexture(GL_TEXTURE_2D, textures[TextureCount - 1]);
                gl->glDrawArrays(GL_TRIANGLES, floorFirst, tileVertices);
            }
        }
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
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const int depth = std::atoi(argv[3]);
    scene.detail = std::atoi(argv[4]);
    const char* screenshot = argc == 7 ? argv[6] : nullptr;
    if (width <= 0 || height <= 0 || scene.detail < 1 || scene.detail > 16 ||
        (argc == 7 && std::strcmp(argv[5], "--screenshot") != 0))
        return Usage();

    // The pass waits for the retrace; so does this.
    if (!scene.screen.Open(width, height, depth, true))
        return 1;
    QOpenGLFunctions_3_0* gl = scene.gl = scene.screen.gl;

    {
        std::vector<TSceneVertex> vertices(SceneVertexCount(scene.detail));
        WriteSceneGeometry(vertices.data(), scene.detail);
        scene.vertices = rawgl::UploadVertices(gl, vertices.data(), vertices.size());
    }
    {
        std::vector<std::uint32_t> pixels(1024 * 1024);
        for (int i = 0; i < TextureCount; ++i) {
            PrepareTexture(1, static_cast<unsigned>(i), pixels.data());
            scene.textures[i] = rawgl::UploadTexture(gl, pixels.data(), 1024);
        }
    }
    rawgl::ApplySceneState(gl, LightCount);

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
                scene.screen.Save(screenshot);
            }
        }
        scene.screen.Present();
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
                width, height, depth, scene.detail, FrameTriangleCount(scene.detail) / g,
                1000.0 / g, stats.N, static_cast<long long>(stats.SumMs), scene.screen.Renderer());

    gl->glDeleteTextures(TextureCount, scene.textures);
    gl->glDeleteBuffers(1, &scene.vertices);
    return 0;
}
