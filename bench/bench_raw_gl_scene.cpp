// The benchmark's scene drawn with plain OpenGL fixed function, no Direct3D runtime in
// between: the same geometry, textures, lights and camera path, timed by the same loop, shown
// the same way (a W x H frame buffer scaled onto the full screen). It prints the triangles
// per millisecond computed as the pass computes them, so that the pass's figure divided by
// this one tells what our runtime costs.
//
//     bench_raw_gl_scene WIDTH HEIGHT DEPTH DETAIL [--screenshot FILE]
#include "RawGlScene.h"
#include "bench/Corridor.h"
#include "bench/PassLogic.h"
#include "platform/Clock.h"
#include "platform/MemoryStatus.h"
#include "render/DXGUtils.h"
#include "render/TextureSet.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Scene {
    rawgl::Screen screen;
    QOpenGLFunctions_3_0* gl = nullptr;
    int detail = 4;
    GLuint vertices = 0;
    GLuint textures[TextureCount] = {};

    std::vector<TCorridorDraw> draws;

    void Draw(std::uint32_t t0, const D3DMATRIX& projection) {
        auto elapsed = [t0] {
            return std::int64_t{static_cast<std::uint32_t>(GetTickCount() - t0)};
        };
        const TCorridorCamera camera = CorridorCamera(elapsed);

        screen.BeginFrame();

        D3DMATRIX view;
        CorridorViewMatrix(view, camera);
        rawgl::LoadProjection(gl, projection);
        gl->glLoadMatrixf(&view._11);

        // Lights in world space: positioned under the view matrix.
        for (int s = 0; s < LightCount; ++s) {
            const D3DVECTOR at = CorridorLightPosition(s, elapsed);
            rawgl::PositionLight(gl, s, at.x, at.y, at.z);
        }

        D3DCULL cull = D3DCULL_NONE;
        for (const TCorridorDraw& draw : draws) {
            if (draw.Cull != cull)
                rawgl::Cull(gl, cull = draw.Cull);
            rawgl::LoadWorldView(gl, view, draw.World);
            gl->glBindTexture(GL_TEXTURE_2D, textures[draw.Texture]);
            gl->glDrawArrays(GL_TRIANGLES, static_cast<GLint>(draw.FirstVertex),
                             static_cast<GLsizei>(3 * draw.Triangles));
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

    scene.draws = CorridorDraws(scene.detail);
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
    CorridorProjectionMatrix(projection);
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
    const QJsonObject figures{
        {"Width", width},
        {"Height", height},
        {"Depth", depth},
        {"DetailLevel", scene.detail},
        {"TrianglesPerMs", FrameTriangleCount(scene.detail) / g},
        {"Fps", 1000.0 / g},
        {"FrameCount", static_cast<qint64>(stats.N)},
        {"TotalTimeMs", static_cast<qint64>(stats.SumMs)},
        {"Renderer", QString::fromUtf8(scene.screen.Renderer())},
    };
    std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());

    gl->glDeleteTextures(TextureCount, scene.textures);
    gl->glDeleteBuffers(1, &scene.vertices);
    return 0;
}
