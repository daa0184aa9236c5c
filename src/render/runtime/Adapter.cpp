#include "render/runtime/Adapter.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unistd.h>

namespace d3d8rt {

bool TreatSoftwareAsHardware = false;

namespace {

constexpr GLenum kGpuMemoryTotalNvx = 0x9048; // GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX, KiB
constexpr GLenum kTextureFreeMemoryAti = 0x87FC;    // GL_TEXTURE_FREE_MEMORY_ATI, KiB
constexpr int kGlxRendererVideoMemoryMesa = 0x8187; // GLX_RENDERER_VIDEO_MEMORY_MESA, MiB
using GlxQueryRendererInteger = int (*)(int attribute, unsigned int* value);

std::string GlString(QOpenGLFunctions* gl, GLenum name) {
    const auto* text = reinterpret_cast<const char*>(gl->glGetString(name));
    return text != nullptr ? std::string(text) : std::string();
}

std::uint64_t RendererMemory(QOpenGLContext& context, QOpenGLFunctions* gl) {
    // Qt on X11 draws through GLX, where Mesa answers for every driver it has.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto query = reinterpret_cast<GlxQueryRendererInteger>(
            context.getProcAddress("glXQueryCurrentRendererIntegerMESA"));
        unsigned int mib = 0;
        if (query != nullptr && query(kGlxRendererVideoMemoryMesa, &mib) && mib > 0)
            return std::uint64_t(mib) << 20;
    }
    if (context.hasExtension("GL_NVX_gpu_memory_info")) {
        GLint kib = 0;
        gl->glGetIntegerv(kGpuMemoryTotalNvx, &kib);
        if (kib > 0)
            return std::uint64_t(kib) << 10;
    }
    if (context.hasExtension("GL_ATI_meminfo")) {
        GLint values[4] = {};
        gl->glGetIntegerv(kTextureFreeMemoryAti, values);
        if (values[0] > 0)
            return std::uint64_t(values[0]) << 10;
    }
    // Nothing to ask: the renderer shares the system's memory.
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
}

} // namespace

bool IsSoftwareRenderer(const std::string& renderer) {
    std::string lower = renderer;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "software rasterizer"})
        if (lower.find(name) != std::string::npos)
            return true;
    return false;
}

bool HasHalDevice(const AdapterInfo& info) {
    return !info.software || TreatSoftwareAsHardware;
}

std::uint64_t ReportableMemory(std::uint64_t bytes) {
    return std::min<std::uint64_t>(bytes, std::uint64_t(4095) << 20);
}

bool QueryAdapter(AdapterInfo& info) {
    if (QGuiApplication::instance() == nullptr)
        return false;
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QOffscreenSurface surface;
    surface.setFormat(format);
    surface.create();
    QOpenGLContext context;
    context.setFormat(format);
    if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface))
        return false;
    QOpenGLFunctions* gl = context.functions();
    info.renderer = GlString(gl, GL_RENDERER);
    info.vendor = GlString(gl, GL_VENDOR);
    info.version = GlString(gl, GL_VERSION);
    info.software = IsSoftwareRenderer(info.renderer);
    gl->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &info.maxTextureSize);
    gl->glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &info.maxRenderbufferSize);
    info.memoryBytes = RendererMemory(context, gl);
    context.doneCurrent();
    return !info.renderer.empty() && info.maxTextureSize > 0;
}

void FillCaps(const AdapterInfo& info, D3DDEVTYPE type, D3DCAPS8& caps) {
    std::memset(&caps, 0, sizeof caps);
    caps.DeviceType = type;
    caps.AdapterOrdinal = 0;
    caps.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    // Execute from system and video memory, transformed vertices, draw-primitive DDI.
    const DWORD common = 0x10 | 0x40 | 0x400 | 0x2000 | 0x8000;
    caps.DevCaps = type == D3DDEVTYPE_HAL
                       ? common | 0x20 | 0x80 | 0x200 | D3DDEVCAPS_HWTRANSFORMANDLIGHT |
                             D3DDEVCAPS_HWRASTERIZATION
                       : common | 0x100;
    caps.PrimitiveMiscCaps = 0x10 | 0x20 | 0x40; // cull none, CW, CCW
    caps.RasterCaps = 0x10;                      // z test
    caps.ZCmpCaps = 0x08;                        // less-or-equal
    caps.ShadeCaps = 0x08;                       // Gouraud colour
    caps.TextureCaps = 0x1 | 0x4 | 0x4000;       // perspective, alpha, mipmaps
    caps.TextureFilterCaps = 0x100 | 0x200 | 0x10000 | 0x20000 | 0x1000000 | 0x2000000;
    caps.TextureAddressCaps = 0x1; // wrap
    caps.MaxTextureWidth = DWORD(info.maxTextureSize);
    caps.MaxTextureHeight = DWORD(info.maxTextureSize);
    caps.MaxTextureRepeat = 8192;
    caps.MaxTextureAspectRatio = DWORD(info.maxTextureSize);
    caps.MaxAnisotropy = 1;
    caps.MaxVertexW = 1e10f;
    caps.FVFCaps = 1;          // one set of texture coordinates
    caps.TextureOpCaps = 0x0F; // disable, select arg 1 and 2, modulate
    caps.MaxTextureBlendStages = 1;
    caps.MaxSimultaneousTextures = 1;
    caps.VertexProcessingCaps = 0x10; // positional lights
    caps.MaxActiveLights = 8;
    caps.MaxPointSize = 1.0f;
    caps.MaxPrimitiveCount = 0xFFFFF;
    caps.MaxVertexIndex = 0xFFFFFF;
    caps.MaxStreams = 1;
    caps.MaxStreamStride = 255;
}

} // namespace d3d8rt
