// The benchmark's corridor drawn with plain OpenGL, no Direct3D runtime in between: the same
// draws (walls, floor and ceiling tiles, each with its world matrix, texture and culling), the
// same textures, camera path, timing loop and presentation, in one of two variants:
//
//  - Lit: GL's own fixed-function lighting with the scene's eight point lights, every draw
//    from the vertex buffer as the pass asks for it (glDrawArrays).
//  - Limit: the same triangles with their colours known in advance: no lighting work at all,
//    per-vertex colours from an array, interpolated and modulating the texture as the lit
//    colours do. Each draw takes its range's distinct vertices once and its triangles as
//    indices, the cheapest way this renderer draws them. What a pass can reach at best.
//
// The triangles per millisecond are computed as the pass computes them.
#pragma once

#include "RawGlScene.h"
#include "bench/Corridor.h"
#include "bench/PassLogic.h"
#include "platform/Clock.h"
#include "platform/MemoryStatus.h"
#include "render/DXGUtils.h"
#include "render/TextureSet.h"
#include "render/runtime/swvp/SoftwareVertexProcessing.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QString>

#include <cmath>
#include <cstdint>
#include <vector>

namespace rawgl {

enum class Variant { Lit, Limit };

inline const char* VariantName(Variant variant) {
    return variant == Variant::Lit ? "lit" : "limit";
}

struct CorridorFigures {
    bool ok = false;
    double trianglesPerMs = 0;
    double fps = 0;
    std::uint32_t frames = 0;
    std::int64_t totalMs = 0;
    QString renderer;
};

namespace detail {

// The colour every limit vertex carries: what the global ambient alone gives the white
// material, 0x00CCCCCC.
constexpr std::uint32_t LimitColour = 0xFFCCCCCCu;

class Corridor {
public:
    Corridor(int detail, Variant variant) : detail_(detail), variant_(variant) {}
    Corridor(const Corridor&) = delete;
    Corridor& operator=(const Corridor&) = delete;

    ~Corridor() {
        if (gl_ == nullptr)
            return;
        gl_->glDeleteTextures(TextureCount, textures_);
        const GLuint buffers[3] = {vertices_, colours_, indices_};
        gl_->glDeleteBuffers(3, buffers);
    }

    bool Open(int width, int height, int depth) {
        // The pass waits for the retrace; so does this.
        if (!screen_.Open(width, height, depth, true))
            return false;
        gl_ = screen_.gl;
        draws_ = CorridorDraws(detail_);
        std::vector<TSceneVertex> vertices(SceneVertexCount(detail_));
        WriteSceneGeometry(vertices.data(), detail_);
        if (variant_ == Variant::Lit)
            vertices_ = UploadVertices(gl_, vertices.data(), vertices.size());
        else
            UploadDistinct(vertices);
        std::vector<std::uint32_t> pixels(1024 * 1024);
        for (int i = 0; i < TextureCount; ++i) {
            PrepareTexture(1, static_cast<unsigned>(i), pixels.data());
            textures_[i] = UploadTexture(gl_, pixels.data(), 1024);
        }
        ApplySceneState(gl_, LightCount);
        if (variant_ == Variant::Limit)
            gl_->glDisable(GL_LIGHTING);
        CorridorProjectionMatrix(projection_);
        return true;
    }

    void DrawFrame(std::uint32_t t0) {
        auto elapsed = [t0] {
            return std::int64_t{static_cast<std::uint32_t>(GetTickCount() - t0)};
        };
        const TCorridorCamera camera = CorridorCamera(elapsed);
        screen_.BeginFrame();
        D3DMATRIX view;
        CorridorViewMatrix(view, camera);
        LoadProjection(gl_, projection_);
        gl_->glLoadMatrixf(&view._11);
        if (variant_ == Variant::Lit) {
            // Lights in world space: positioned under the view matrix.
            for (int s = 0; s < LightCount; ++s) {
                const D3DVECTOR at = CorridorLightPosition(s, elapsed);
                PositionLight(gl_, s, at.x, at.y, at.z);
            }
        }
        D3DCULL cull = D3DCULL_NONE;
        for (const TCorridorDraw& draw : draws_) {
            if (draw.Cull != cull)
                Cull(gl_, cull = draw.Cull);
            LoadWorldView(gl_, view, draw.World);
            gl_->glBindTexture(GL_TEXTURE_2D, textures_[draw.Texture]);
            if (variant_ == Variant::Lit) {
                gl_->glDrawArrays(GL_TRIANGLES, static_cast<GLint>(draw.FirstVertex),
                                  static_cast<GLsizei>(3 * draw.Triangles));
            } else {
                const bool wall = draw.FirstVertex == 0;
                gl_->glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(3 * draw.Triangles),
                                    GL_UNSIGNED_INT,
                                    reinterpret_cast<const void*>(wall ? 0 : floorIndexOffset_));
            }
        }
    }

    Screen& screen() { return screen_; }

private:
    // Each block's distinct vertices once, with its triangles as indices into them.
    void UploadDistinct(const std::vector<TSceneVertex>& vertices) {
        swvp::DistinctVertices distinct;
        distinct.Reset(reinterpret_cast<const swvp::SourceVertex*>(vertices.data()),
                       vertices.size());
        const std::uint32_t floorStart = FloorBlockStart(detail_);
        const auto* walls = distinct.Find(0, floorStart);
        const auto* floors = distinct.Find(floorStart, vertices.size() - floorStart);
        std::vector<swvp::SourceVertex> both(walls->vertices);
        both.insert(both.end(), floors->vertices.begin(), floors->vertices.end());
        std::vector<std::uint32_t> indices(walls->indices);
        const auto base = static_cast<std::uint32_t>(walls->vertices.size());
        for (std::uint32_t i : floors->indices)
            indices.push_back(base + i);
        floorIndexOffset_ = walls->indices.size() * sizeof(std::uint32_t);

        vertices_ = UploadVertices(gl_, both.data(), both.size());
        gl_->glGenBuffers(1, &indices_);
        gl_->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indices_);
        gl_->glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                          GLsizeiptr(indices.size() * sizeof(std::uint32_t)), indices.data(),
                          GL_STATIC_DRAW);
        const std::vector<std::uint32_t> colours(both.size(), LimitColour);
        gl_->glGenBuffers(1, &colours_);
        gl_->glBindBuffer(GL_ARRAY_BUFFER, colours_);
        gl_->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(colours.size() * sizeof(std::uint32_t)),
                          colours.data(), GL_STATIC_DRAW);
        gl_->glDisableClientState(GL_NORMAL_ARRAY); // nothing is lit
        gl_->glEnableClientState(GL_COLOR_ARRAY);
        gl_->glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(std::uint32_t), nullptr);
    }

    int detail_;
    Variant variant_;
    Screen screen_;
    QOpenGLFunctions_3_0* gl_ = nullptr;
    std::vector<TCorridorDraw> draws_;
    D3DMATRIX projection_{};
    GLuint vertices_ = 0, colours_ = 0, indices_ = 0;
    GLuint textures_[TextureCount] = {};
    std::uintptr_t floorIndexOffset_ = 0;
};

} // namespace detail

// One timed fly-through of the variant in a full-screen window of its own, by the pass's
// timing loop. The screenshot, when a file is given, is taken half way through the measured
// 7 s.
inline CorridorFigures RunCorridor(int width, int height, int depth, int detail, Variant variant,
                                   const char* screenshot = nullptr) {
    CorridorFigures figures;
    detail::Corridor corridor(detail, variant);
    if (!corridor.Open(width, height, depth))
        return figures;
    bool shot = screenshot == nullptr;
    std::uint32_t measuring = 0;
    std::uint32_t frames = 0;
    TFrameLoopHooks hooks;
    hooks.Clock = [] { return GetTickCount(); };
    hooks.DrawFrame = [&](std::uint32_t t0) {
        corridor.DrawFrame(t0);
        if (!shot && ++frames > 3) {
            if (measuring == 0)
                measuring = t0;
            if (GetTickCount() - measuring >= MeasuredDurationMs / 2) {
                shot = true;
                corridor.screen().Save(screenshot);
            }
        }
        corridor.screen().Present();
    };
    // The pass takes a memory snapshot inside every measured frame; so does this.
    hooks.AfterFrame = [] { [[maybe_unused]] const auto status = GlobalMemoryStatus(); };
    hooks.PumpMessages = [] { QCoreApplication::processEvents(); };
    hooks.Stopped = [] { return false; };
    const TFrameStats stats = RunFrameLoop(hooks);

    const double g = std::exp(stats.SumLog / stats.N);
    figures.ok = true;
    figures.trianglesPerMs = FrameTriangleCount(detail) / g;
    figures.fps = 1000.0 / g;
    figures.frames = stats.N;
    figures.totalMs = stats.SumMs;
    figures.renderer = QString::fromUtf8(corridor.screen().Renderer());
    return figures;
}

} // namespace rawgl
