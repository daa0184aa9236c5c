// Lit vertices per second of the software vertex processing against GL doing the vertex work
// on the same renderer, on the benchmark's real load: the floor block (detail 4, 2400
// vertices) drawn as the 256 floor and 256 ceiling tiles of one frame, lit by the eight point
// lights of the fly-through. GL does it two ways: its own fixed function with no runtime in
// between, and the runtime's hardware vertex processing (its GLSL vertex shader). Also the
// kernel alone.
//
// Every path counts 2400 x 512 lit vertices a frame, the work the frame asks for; the
// software path gets there by lighting each tile's 441 distinct vertices once.
//
// Usage: bench_vertex_processing [--only=kernel|fixed|hardware|software]
//                                [seconds per measurement] [width height]
// Run it under a real X server (Xvfb on machines without a display).
#include "RawGlScene.h"
#include "ToolArguments.h"
#include "render/DXGUtils.h"
#include "render/DirectXGraphics.h"
#include "render/runtime/swvp/Kernel.h"
#include "render/runtime/swvp/SoftwareVertexProcessing.h"

#include <QApplication>
#include <QWindow>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Detail = 4;
constexpr int TileGrid = 16;
constexpr int DrawsPerFrame = 2 * TileGrid * TileGrid;
constexpr int FloorVertices = 150 * Detail * Detail; // 2400
constexpr int FloorTriangles = 50 * Detail * Detail;
constexpr double LitVerticesPerFrame = double(FloorVertices) * DrawsPerFrame;

double Ring(int n) {
    return 5.0 / (2.0 * std::sin(std::numbers::pi / n));
}

// The scene's vertex buffer: wall block, then floor block.
std::vector<swvp::SourceVertex> SceneVertices() {
    std::vector<swvp::SourceVertex> out;
    auto block = [&](int columns, int rows, bool floor) {
        const double d = Detail;
        auto vertex = [&](int i, int j) {
            const float a = float(i / d), b = float(j / d);
            const float u = float(i / (5 * d)), t = float(j / double(rows));
            return floor ? swvp::SourceVertex{a, 0, b, 0, 1, 0, u, t}
                         : swvp::SourceVertex{a, b, 0, 0, 0, -1, u, t};
        };
        for (int l = 0; l < columns; ++l)
            for (int m = 0; m < rows; ++m) {
                const int corners[6][2] = {{l, m},     {l + 1, m}, {l, m + 1},
                                           {l, m + 1}, {l + 1, m}, {l + 1, m + 1}};
                for (const auto& c : corners)
                    out.push_back(vertex(c[0], c[1]));
            }
    };
    block(5 * Detail, 3 * Detail, false);
    block(5 * Detail, 5 * Detail, true);
    return out;
}
constexpr int FloorFirstVertex = 90 * Detail * Detail;

// The frame's fixed parts, as the fly-through sets them at the start of the run.
struct Frame {
    D3DMATRIX view, projection;
    D3DMATRIX worlds[DrawsPerFrame];
    D3DLIGHT8 lights[8];
};

Frame MakeFrame() {
    Frame f{};
    const double rMid = (Ring(20) + Ring(23)) / 2;
    const double e = 0.0;
    const double theta = 2 * std::numbers::pi * (7000 - e) / 7000;
    const double yaw = -(2 * std::numbers::pi * e / 7000 + std::numbers::pi / 2);
    D3DVECTOR from, at, up;
    MakeVector(from, rMid * std::cos(theta) + 100, 1.0, rMid * std::sin(theta) + 100);
    MakeVector(at, from.x + std::cos(yaw), from.y, from.z + std::sin(yaw));
    MakeVector(up, 0, 1, 0);
    SetViewMatrix(f.view, from, at, up);
    SetProjectionMatrix(f.projection, 1.0, 0.75, 0.5, 250.0);
    for (int s = 0; s < 8; ++s) {
        D3DLIGHT8& l = f.lights[s];
        const double ts = 2 * std::numbers::pi * ((7000 - e) - 150.1 * s) / 7000;
        l.Type = D3DLIGHT_POINT;
        l.Diffuse = l.Specular = {1, 1, 1, 1};
        l.Ambient = {0, 0, 0, 1};
        l.Position = {float(rMid * std::cos(ts) + 100), 1.0f, float(rMid * std::sin(ts) + 100)};
        l.Range = 250;
        l.Attenuation1 = 5;
    }
    D3DMATRIX turn, move;
    SetRotateZMatrix(turn, -3.1415927f);
    int k = 0;
    for (int a = 0; a < TileGrid; ++a)
        for (int b = 0; b < TileGrid; ++b) {
            const double x = (b - TileGrid / 2) * 5 + 100, z = (a - TileGrid / 2) * 5 + 100;
            SetTranslateMatrix(f.worlds[k++], x, 0, z);
            SetTranslateMatrix(move, x, 3, z);
            MatrixMultiply(move, turn, f.worlds[k++]);
        }
    return f;
}

// A floor-like texture, so the pixels cost what they cost in the run.
constexpr int TextureSize = 1024;
std::vector<std::uint32_t> FloorTexture() {
    std::vector<std::uint32_t> pixels(std::size_t(TextureSize) * TextureSize);
    for (int y = 0; y < TextureSize; ++y)
        for (int x = 0; x < TextureSize; ++x)
            pixels[std::size_t(y) * TextureSize + x] =
                ((x / 64 + y / 64) & 1) ? 0xFF8C7853u : 0xFFB4A078u;
    return pixels;
}

// Runs `step` (one frame) for about `seconds` after a short warm-up; frames per second.
double FramesPerSecond(double seconds, const std::function<void()>& step) {
    for (int i = 0; i < 3; ++i)
        step();
    const auto start = Clock::now();
    long frames = 0;
    double elapsed = 0;
    do {
        step();
        ++frames;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds || frames < 3);
    return frames / elapsed;
}

// ---- The kernel alone --------------------------------------------------------------------

void MeasureKernel(const Frame& f, const std::vector<swvp::SourceVertex>& scene, double seconds) {
    swvp::DistinctVertices distinct;
    distinct.Reset(scene.data(), scene.size());
    const swvp::DistinctVertices::Range* range = distinct.Find(FloorFirstVertex, FloorVertices);
    const std::size_t unique = range->vertices.size();

    // What the device hands the kernel per draw: matrices of the tile, lights in camera space.
    std::vector<swvp::DrawState> states(DrawsPerFrame);
    D3DMATRIX viewProjection;
    MatrixMultiply(f.projection, f.view, viewProjection);
    for (int k = 0; k < DrawsPerFrame; ++k) {
        swvp::DrawState& s = states[k];
        MatrixMultiply(viewProjection, f.worlds[k], s.clipFromObject);
        // Direct3D's depth 0..w to OpenGL's -w..w, as the runtime hands it over.
        for (auto& row : s.clipFromObject.m)
            row[2] = 2 * row[2] - row[3];
        MatrixMultiply(f.view, f.worlds[k], s.cameraFromObject);
        s.lighting = true;
        s.globalAmbient[0] = s.globalAmbient[1] = s.globalAmbient[2] = 0.8f;
        s.materialDiffuse = s.materialAmbient = {1, 1, 1, 1};
        s.materialEmissive = {0, 0, 0, 0};
        s.lightCount = 8;
        for (int l = 0; l < 8; ++l) {
            const D3DVECTOR& p = f.lights[l].Position;
            const D3DMATRIX& v = f.view;
            for (int c = 0; c < 3; ++c)
                s.lights[l].position[c] =
                    p.x * v.m[0][c] + p.y * v.m[1][c] + p.z * v.m[2][c] + v.m[3][c];
            for (int c = 0; c < 3; ++c) {
                s.lights[l].diffuse[c] = 1.0f;
                s.lights[l].ambient[c] = 0.0f;
            }
            s.lights[l].range = 250;
            s.lights[l].attenuation0 = s.lights[l].attenuation2 = 0;
            s.lights[l].attenuation1 = 5;
        }
    }

    std::vector<swvp::LitVertex> out(FloorVertices);
    const swvp::SourceVertex* floor = scene.data() + FloorFirstVertex;
    std::printf("Kernel alone (no GL), one frame = %d draws of the floor block:\n", DrawsPerFrame);
    using Variant = void (*)(const swvp::detail::Prepared&, const swvp::SourceVertex*, std::size_t,
                             swvp::LitVertex*);
    struct Named {
        const char* name;
        Variant run;
    };
    std::vector<Named> variants = {{"SSE2", swvp::detail::ProcessSse2}};
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        variants.push_back({"AVX2", swvp::detail::ProcessAvx2});
    for (const Named& v : variants) {
        const double fps = FramesPerSecond(seconds, [&] {
            for (const swvp::DrawState& s : states) {
                swvp::detail::Prepared p;
                swvp::detail::Prepare(s, p);
                v.run(p, floor, FloorVertices, out.data());
            }
        });
        std::printf("  %-5s every vertex of the draw: %8.2f M vertices/s\n", v.name,
                    fps * LitVerticesPerFrame / 1e6);
    }
    const double fps = FramesPerSecond(seconds, [&] {
        for (const swvp::DrawState& s : states)
            swvp::ProcessVertices(range->vertices.data(), unique, s, out.data());
    });
    std::printf("  as the device runs it (%zu distinct of %d vertices a draw): %8.2f M distinct "
                "vertices/s = %8.2f M lit vertices/s\n",
                unique, FloorVertices, fps * unique * DrawsPerFrame / 1e6,
                fps * LitVerticesPerFrame / 1e6);

    // What frustum rejection would leave OpenGL to set up, and what it costs.
    std::vector<std::uint32_t> kept(FloorVertices);
    std::size_t keptIndices = 0;
    const double cullFps = FramesPerSecond(seconds, [&] {
        keptIndices = 0;
        for (const swvp::DrawState& s : states) {
            swvp::ProcessVertices(range->vertices.data(), unique, s, out.data());
            keptIndices += swvp::KeepVisibleTriangles(out.data(), unique, range->indices.data(),
                                                      range->indices.size(), kept.data());
        }
    });
    std::printf("  with frustum rejection: %.1f%% of the frame's %d triangles left for OpenGL, "
                "%8.2f M lit vertices/s\n",
                100.0 * double(keptIndices) / LitVerticesPerFrame, FloorTriangles * DrawsPerFrame,
                cullFps * LitVerticesPerFrame / 1e6);
}

// ---- GL's own fixed function, no runtime ----------------------------------------------------

// Frames per second of the same floor and ceiling drawn with plain OpenGL fixed function, set
// up and presented as the runtime does it; negative when there is no such context.
double MeasureFixedFunction(const Frame& f, const std::vector<swvp::SourceVertex>& scene, int width,
                            int height, double seconds, std::string& renderer) {
    rawgl::Screen screen;
    if (!screen.Open(width, height, 32, false))
        return -1;
    QOpenGLFunctions_3_0* gl = screen.gl;
    renderer = screen.Renderer();
    const GLuint vertices = rawgl::UploadVertices(gl, scene.data(), scene.size());
    const GLuint texture = rawgl::UploadTexture(gl, FloorTexture().data(), TextureSize);
    rawgl::ApplySceneState(gl, 8);
    rawgl::Cull(gl, D3DCULL_CW);

    const auto frame = [&] {
        screen.BeginFrame();
        rawgl::LoadProjection(gl, f.projection);
        gl->glLoadMatrixf(&f.view._11);
        for (int s = 0; s < 8; ++s) {
            const D3DVECTOR& p = f.lights[s].Position;
            rawgl::PositionLight(gl, s, p.x, p.y, p.z);
        }
        gl->glBindTexture(GL_TEXTURE_2D, texture);
        for (const D3DMATRIX& world : f.worlds) {
            rawgl::LoadWorldView(gl, f.view, world);
            gl->glDrawArrays(GL_TRIANGLES, FloorFirstVertex, FloorVertices);
        }
        screen.Present();
    };
    const double fps = FramesPerSecond(seconds, frame);
    gl->glDeleteTextures(1, &texture);
    gl->glDeleteBuffers(1, &vertices);
    return fps;
}

// ---- Through the runtime -------------------------------------------------------------------

struct Released {
    void operator()(IUnknown* p) const {
        if (p != nullptr)
            p->Release();
    }
};

// Frames per second of the scene's floor and ceiling on a HAL device with the given vertex
// processing, or a negative number when the device cannot be made.
double MeasureDevice(IDirect3D8* d3d, bool software, const Frame& f,
                     const std::vector<swvp::SourceVertex>& scene, int width, int height,
                     double seconds) {
    QWindow window;
    window.show();
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = UINT(width);
    pp.BackBufferHeight = UINT(height);
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.EnableAutoDepthStencil = D3D_TRUE_ALL_BITS;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    // A measuring tool: no waiting for a retrace.
    pp.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    IDirect3DDevice8* raw = nullptr;
    const DWORD flags =
        software ? D3DCREATE_SOFTWARE_VERTEXPROCESSING : D3DCREATE_HARDWARE_VERTEXPROCESSING;
    if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, &window, flags, &pp, &raw)))
        return -1;
    std::unique_ptr<IDirect3DDevice8, Released> device(raw);

    const UINT bytes = UINT(scene.size() * sizeof(swvp::SourceVertex));
    IDirect3DVertexBuffer8* vb = nullptr;
    if (FAILED(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0x112, D3DPOOL_MANAGED, &vb)))
        return -1;
    std::unique_ptr<IDirect3DVertexBuffer8, Released> buffer(vb);
    BYTE* data = nullptr;
    if (FAILED(buffer->Lock(0, bytes, &data, 0)))
        return -1;
    std::memcpy(data, scene.data(), bytes);
    buffer->Unlock();

    IDirect3DTexture8* tex = nullptr;
    std::unique_ptr<IDirect3DTexture8, Released> texture;
    if (SUCCEEDED(device->CreateTexture(TextureSize, TextureSize, 0, 0, D3DFMT_A8R8G8B8,
                                        D3DPOOL_MANAGED, &tex))) {
        texture.reset(tex);
        D3DLOCKED_RECT rect;
        if (SUCCEEDED(texture->LockRect(0, &rect, nullptr, 0))) {
            const std::vector<std::uint32_t> pixels = FloorTexture();
            for (int y = 0; y < TextureSize; ++y)
                std::memcpy(static_cast<BYTE*>(rect.pBits) + std::ptrdiff_t(y) * rect.Pitch,
                            pixels.data() + std::size_t(y) * TextureSize,
                            TextureSize * sizeof(std::uint32_t));
            texture->UnlockRect(0);
        }
    }

    D3DMATERIAL8 material;
    InitMaterial(material, 1, 1, 1, 1);
    const auto frame = [&] {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        device->BeginScene();
        device->SetTransform(D3DTS_PROJECTION, &f.projection);
        device->SetTransform(D3DTS_VIEW, &f.view);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
        device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
        device->SetRenderState(D3DRS_LIGHTING, D3D_TRUE_ALL_BITS);
        device->SetRenderState(D3DRS_AMBIENT, 0x00CCCCCC);
        device->SetMaterial(&material);
        device->SetStreamSource(0, buffer.get(), 32);
        device->SetVertexShader(0x112);
        for (DWORD s = 0; s < 8; ++s) {
            device->SetLight(s, &f.lights[s]);
            device->LightEnable(s, D3D_TRUE_ALL_BITS);
        }
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        device->SetTexture(0, texture.get());
        for (const D3DMATRIX& world : f.worlds) {
            device->SetTransform(D3DTS_WORLD, &world);
            device->DrawPrimitive(D3DPT_TRIANGLELIST, FloorFirstVertex, FloorTriangles);
        }
        device->SetTexture(0, nullptr);
        device->SetStreamSource(0, nullptr, 32);
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    };
    const double fps = FramesPerSecond(seconds, frame);
    texture.reset();
    buffer.reset();
    device.reset();
    return fps;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    const QCommandLineOption onlyOption(
        "only", "One measurement alone: kernel, fixed, hardware or software.", "PART");
    parser.addOption(onlyOption);
    parser.addPositionalArgument("SECONDS", "Seconds of each measurement (default 3).",
                                 "[SECONDS]");
    parser.addPositionalArgument("WIDTH", "The window's width (default 640).", "[WIDTH");
    parser.addPositionalArgument("HEIGHT", "Its height (default 480).", "HEIGHT]");
    if (const auto status = ReadToolArguments(
            parser, "bench_vertex_processing",
            "Lit vertices per second of the software vertex processing against GL doing the "
            "vertex work on the same renderer.",
            argc, argv, 0, 3))
        return *status;
    const std::string only = parser.value(onlyOption).toStdString();
    if (!only.empty() && only != "kernel" && only != "fixed" && only != "hardware" &&
        only != "software") {
        std::fprintf(stderr, "bench_vertex_processing: --only takes kernel, fixed, hardware or "
                             "software\n");
        return 2;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() == 2) {
        std::fprintf(stderr, "bench_vertex_processing: a width needs a height\n");
        return 2;
    }
    QApplication app(argc, argv);
    const auto wanted = [&](const char* part) { return only.empty() || only == part; };
    const double seconds = args.size() > 0 ? args[0].toDouble() : 3.0;
    const int width = args.size() > 2 ? args[1].toInt() : 640;
    const int height = args.size() > 2 ? args[2].toInt() : 480;

    const std::vector<swvp::SourceVertex> scene = SceneVertices();
    const Frame frame = MakeFrame();
    std::printf("Load: floor block, detail %d (%d vertices, %d triangles) drawn %d times a "
                "frame, 8 point lights; a frame asks for %.0f lit vertices.\n\n",
                Detail, FloorVertices, FloorTriangles, DrawsPerFrame, LitVerticesPerFrame);
    if (wanted("kernel"))
        MeasureKernel(frame, scene, seconds);
    if (!wanted("fixed") && !wanted("hardware") && !wanted("software"))
        return 0;

    std::string renderer;
    const double fixed =
        wanted("fixed") ? MeasureFixedFunction(frame, scene, width, height, seconds, renderer) : 0;

    double hw = 0, sw = 0;
    std::unique_ptr<IDirect3D8, Released> d3d;
    if (wanted("hardware") || wanted("software")) {
        LoadDirect3DLibrary();
        if (auto* treat = reinterpret_cast<Direct3DTestSoftwareAsHardwareProc>(
                dlsym(Direct3DLibraryHandle(), Direct3DTestSoftwareAsHardwareSymbol)))
            treat(1);
        d3d.reset(Direct3DCreate8(D3D_SDK_VERSION));
        if (d3d) {
            D3DADAPTER_IDENTIFIER8 id{};
            d3d->GetAdapterIdentifier(0, 0, &id);
            if (renderer.empty())
                renderer = id.Description;
            if (wanted("hardware"))
                hw = MeasureDevice(d3d.get(), false, frame, scene, width, height, seconds);
            if (wanted("software"))
                sw = MeasureDevice(d3d.get(), true, frame, scene, width, height, seconds);
        } else {
            hw = sw = -1;
        }
    }

    std::printf("\nOn \"%s\", %d x %d x 32, textured; every path draws %d x %d = %.0f lit "
                "vertices a frame:\n",
                renderer.c_str(), width, height, FloorVertices, DrawsPerFrame, LitVerticesPerFrame);
    for (const auto& [name, fps] :
         {std::pair{"GL fixed function (no runtime)", fixed},
          std::pair{"runtime, hardware vertex processing (GL vertex shader)", hw},
          std::pair{"runtime, software vertex processing (ours)", sw}}) {
        if (fps < 0)
            std::printf("  %-55s not available\n", name);
        else if (fps > 0)
            std::printf("  %-55s %7.2f frames/s = %8.2f M lit vertices/s\n", name, fps,
                        fps * LitVerticesPerFrame / 1e6);
    }
    if (sw > 0 && fixed > 0)
        std::printf("  software / GL fixed function:    %.2f\n", sw / fixed);
    if (sw > 0 && hw > 0)
        std::printf("  software / runtime hardware path: %.2f\n", sw / hw);
    if (d3d) {
        d3d.reset();
        FreeDirect3DLibrary();
    }
    return fixed < 0 || hw < 0 || sw < 0 ? 1 : 0;
}
