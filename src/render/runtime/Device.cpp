#include "render/runtime/Device.h"

#include "render/runtime/DriverAllocations.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace d3d8rt {

namespace {

constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
constexpr UINT kFvfSize = 32;
constexpr DWORD kKnownUsage = 0x8 | 0x10 | 0x20 | 0x200; // write-only, software, no clip, dynamic
constexpr int kExposeWaitMs = 2000;

// Locations shared by both programs, so one attribute layout per path is enough.
constexpr GLuint kPosition = 0, kSecond = 1, kTexcoord = 2;

// The shaders are specialised by #defines prepended to these sources, one program per state
// combination: llvmpipe runs a shader on every vertex or pixel as written, so uniform branches
// and a loop over a uniform light count cost on every vertex, and constant-indexed uniform
// arrays are much cheaper than indexed ones.
//   LIGHTING       0 or 1
//   LIGHT_COUNT    0..8, the enabled lights in order
//   LIGHT_AMBIENT  0 when no light adds ambient (its term is then exactly zero)
const char* const kHardwareVertexShader = R"(
attribute vec3 a_position;
attribute vec3 a_normal;
attribute vec2 a_texcoord;
uniform mat4 u_clipFromObject;
varying vec4 v_color;
varying vec2 v_texcoord;
#if LIGHTING
uniform mat4 u_cameraFromObject;
uniform mat3 u_normalMatrix;
uniform vec4 u_base; // emissive + material ambient x global ambient; material diffuse alpha
#if LIGHT_COUNT > 0
uniform vec3 u_lightPosition[LIGHT_COUNT]; // camera space
uniform vec3 u_lightDiffuse[LIGHT_COUNT];  // material diffuse x light diffuse
#if LIGHT_AMBIENT
uniform vec3 u_lightAmbient[LIGHT_COUNT];  // material ambient x light ambient
#endif
uniform vec4 u_lightAttenuation[LIGHT_COUNT]; // range, a0, a1, a2
#endif
#endif
void main() {
    vec4 position = vec4(a_position, 1.0);
    gl_Position = u_clipFromObject * position;
    v_texcoord = a_texcoord;
#if LIGHTING
    // Direct3D's fixed-function lighting in camera space; normals are not renormalised.
    vec3 p = (u_cameraFromObject * position).xyz;
    vec3 n = u_normalMatrix * a_normal;
    vec3 color = u_base.rgb;
#if LIGHT_COUNT > 0
    for (int i = 0; i < LIGHT_COUNT; ++i) {
        vec3 toLight = u_lightPosition[i] - p;
        // Kept off zero, so a light on the vertex or all-zero attenuation gives a huge but
        // finite light rather than infinities and NaNs.
        float d2 = max(dot(toLight, toLight), 1e-30);
        float invD = inversesqrt(d2);
        float d = d2 * invD;
        vec4 a = u_lightAttenuation[i];
        // step() cuts the light off beyond its range, ambient included.
        float attenuation = step(d, a.x) / max(a.y + a.z * d + a.w * d2, 1e-30);
        float nDotL = max(dot(n, toLight) * invD, 0.0);
        color += (attenuation * nDotL) * u_lightDiffuse[i];
#if LIGHT_AMBIENT
        color += attenuation * u_lightAmbient[i];
#endif
    }
#endif
    v_color = vec4(clamp(color, 0.0, 1.0), u_base.a);
#else
    v_color = vec4(1.0);
#endif
}
)";

const char* const kSoftwareVertexShader = R"(
attribute vec4 a_position;
attribute vec4 a_color;
attribute vec2 a_texcoord;
varying vec4 v_color;
varying vec2 v_texcoord;
void main() {
    gl_Position = a_position;
    v_color = a_color;
    v_texcoord = a_texcoord;
}
)";

// Texture stage 0, specialised like the vertex shader:
//   HAS_TEXTURE  0 or 1; without a texture the stage reads opaque white
//   COLOR_OP     0 diffuse only, 1 modulate, 2 texture only
const char* const kFragmentShader = R"(
uniform sampler2D u_texture;
varying vec4 v_color;
varying vec2 v_texcoord;
void main() {
#if HAS_TEXTURE
    vec4 t = texture2D(u_texture, v_texcoord);
#else
    vec4 t = vec4(1.0);
#endif
#if COLOR_OP == 1
    gl_FragColor = vec4(t.rgb * v_color.rgb, t.a);
#elif COLOR_OP == 2
    gl_FragColor = t;
#else
    gl_FragColor = v_color;
#endif
}
)";

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return r;
}

// Normals of row vectors go through the inverse transpose of the upper 3 x 3, which is the
// cofactor matrix over the determinant.
void NormalMatrix(const D3DMATRIX& m, float out[9]) {
    const float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31,
                h = m._32, i = m._33;
    const float cof[9] = {e * i - f * h,    -(d * i - f * g), d * h - e * g,
                          -(b * i - c * h), a * i - c * g,    -(a * h - b * g),
                          b * f - c * e,    -(a * f - c * d), a * e - b * d};
    const float det = a * cof[0] + b * cof[1] + c * cof[2];
    const float scale = det != 0.0f ? 1.0f / det : 0.0f;
    for (int k = 0; k < 9; ++k)
        out[k] = cof[k] * scale;
}

void ColorToFloats(D3DCOLOR c, float out[3]) {
    out[0] = float((c >> 16) & 0xFF) / 255.0f;
    out[1] = float((c >> 8) & 0xFF) / 255.0f;
    out[2] = float(c & 0xFF) / 255.0f;
}

bool IsBackBufferFormat(D3DFORMAT f) {
    return f == D3DFMT_R5G6B5 || f == D3DFMT_X8R8G8B8;
}

bool ValidPool(D3DPOOL pool) {
    return pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM;
}

} // namespace

// ---- Creation and teardown ----------------------------------------------------------------

Device::Device(Direct3D* owner, D3DDEVTYPE type, QWindow* window, bool software,
               const D3DPRESENT_PARAMETERS& params)
    : owner_(owner), type_(type), window_(window), software_(software), params_(params),
      adapter_(owner->adapter()) {
    owner_->AddRef();
    world_ = view_ = projection_ = Identity();
    zEnable_ = params.EnableAutoDepthStencil != 0;
    width_ = int(params.BackBufferWidth);
    height_ = int(params.BackBufferHeight);
}

HRESULT Device::Create(Direct3D* owner, D3DDEVTYPE type, QWindow* window, bool software,
                       D3DPRESENT_PARAMETERS& params, Device** out) {
    *out = nullptr;
    const int maxSize =
        std::min(owner->adapter().maxRenderbufferSize, owner->adapter().maxTextureSize);
    if (params.BackBufferWidth == 0 || params.BackBufferHeight == 0 ||
        params.BackBufferWidth > UINT(maxSize) || params.BackBufferHeight > UINT(maxSize) ||
        !IsBackBufferFormat(params.BackBufferFormat) || params.BackBufferCount > 1 ||
        params.MultiSampleType != D3DMULTISAMPLE_NONE ||
        params.SwapEffect < D3DSWAPEFFECT_DISCARD || params.SwapEffect > D3DSWAPEFFECT_COPY_VSYNC)
        return D3DERR_INVALIDCALL;
    if (params.EnableAutoDepthStencil && params.AutoDepthStencilFormat != D3DFMT_D16)
        return D3DERR_INVALIDCALL;
    const UINT interval = params.FullScreen_PresentationInterval;
    if (interval != D3DPRESENT_INTERVAL_DEFAULT && interval != D3DPRESENT_INTERVAL_ONE &&
        interval != D3DPRESENT_INTERVAL_IMMEDIATE)
        return D3DERR_INVALIDCALL;
    if (params.Windowed)
        return D3DERR_NOTAVAILABLE; // only full-screen devices are offered
    if (params.BackBufferCount == 0)
        params.BackBufferCount = 1;

    auto* device = new (std::nothrow) Device(owner, type, window, software, params);
    if (device == nullptr)
        return E_OUTOFMEMORY;
    if (!device->Initialise()) {
        device->Release();
        return D3DERR_NOTAVAILABLE;
    }
    *out = device;
    return D3D_OK;
}

bool Device::TakeOverWindow() {
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

bool Device::Initialise() {
    if (!TakeOverWindow())
        return false;
    gl_ = context_->extraFunctions();
    if (gl_ == nullptr || context_->format().majorVersion() < 3)
        return false;
    if (!BuildPrograms() || !BuildFramebuffers())
        return false;
    ApplyFixedState();
    gl_->glGenBuffers(1, &litBuffer_);
    gl_->glGenBuffers(1, &keptIndexBuffer_);
    return gl_->glGetError() == GL_NO_ERROR;
}

bool Device::BuildProgram(int vertexVariant, int fragmentVariant, Program& out) {
    const bool software = vertexVariant == 0;
    const int lit = vertexVariant - 2; // below 0 when unlit
    const QByteArray vertex =
        QByteArray("#version 120\n") +
        (software
             ? QByteArray()
             : QByteArrayLiteral("#define LIGHTING ") + QByteArray::number(lit >= 0) +
                   "\n#define LIGHT_COUNT " + QByteArray::number(lit >= 0 ? lit / 2 : 0) +
                   "\n#define LIGHT_AMBIENT " + QByteArray::number(lit >= 0 && lit % 2) + "\n") +
        (software ? kSoftwareVertexShader : kHardwareVertexShader);
    const QByteArray fragment = QByteArrayLiteral("#version 120\n#define HAS_TEXTURE ") +
                                QByteArray::number(fragmentVariant / 3) + "\n#define COLOR_OP " +
                                QByteArray::number(fragmentVariant % 3) + "\n" + kFragmentShader;
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertex) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment))
        return false;
    program->bindAttributeLocation("a_position", kPosition);
    program->bindAttributeLocation(software ? "a_color" : "a_normal", kSecond);
    program->bindAttributeLocation("a_texcoord", kTexcoord);
    if (!program->link())
        return false;
    Program p;
    p.id = program->programId();
    p.clipFromObject = program->uniformLocation("u_clipFromObject");
    p.cameraFromObject = program->uniformLocation("u_cameraFromObject");
    p.normalMatrix = program->uniformLocation("u_normalMatrix");
    p.base = program->uniformLocation("u_base");
    p.lightPosition = program->uniformLocation("u_lightPosition");
    p.lightDiffuse = program->uniformLocation("u_lightDiffuse");
    p.lightAmbient = program->uniformLocation("u_lightAmbient");
    p.lightAttenuation = program->uniformLocation("u_lightAttenuation");
    const GLint sampler = program->uniformLocation("u_texture");
    if (sampler >= 0) {
        gl_->glUseProgram(p.id);
        gl_->glUniform1i(sampler, 0);
        gl_->glUseProgram(currentProgram_);
    }
    p.program = program.release();
    out = p;
    return true;
}

bool Device::BuildPrograms() {
    // The programs of the default state, which also shows that this driver takes our GLSL.
    const int vertexVariant = software_ ? 0 : 2;
    return BuildProgram(vertexVariant, 1, programs_[vertexVariant * kFragmentVariants + 1]);
}

// The program for this vertex variant and the current texture stage, made current.
Device::Program* Device::UseProgram(int vertexVariant) {
    const int op = colorOp_ == D3DTOP_MODULATE ? 1 : colorOp_ == D3DTOP_SELECTARG1 ? 2 : 0;
    const int fragmentVariant = (texture_ != nullptr ? 3 : 0) + op;
    Program& p = programs_[std::size_t(vertexVariant * kFragmentVariants + fragmentVariant)];
    if (p.program == nullptr && !BuildProgram(vertexVariant, fragmentVariant, p))
        return nullptr;
    if (currentProgram_ != p.id) {
        gl_->glUseProgram(p.id);
        currentProgram_ = p.id;
    }
    return &p;
}

bool Device::BuildFramebuffers() {
    const GLenum colorFormat = params_.BackBufferFormat == D3DFMT_R5G6B5 ? GL_RGB565 : GL_RGB8;
    hasDepth_ = params_.EnableAutoDepthStencil != 0;
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

void Device::ApplyFixedState() {
    gl_->glViewport(0, 0, width_, height_);
    gl_->glDisable(GL_DITHER); // D3DRS_DITHERENABLE is off by default
    gl_->glDepthFunc(GL_LEQUAL);
    gl_->glFrontFace(GL_CW); // Direct3D's front faces are clockwise as seen on screen
    gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl_->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl_->glActiveTexture(GL_TEXTURE0);
}

Device::~Device() {
    if (context_ != nullptr && MakeCurrent()) {
        if (gl_ != nullptr) {
            gl_->glBindFramebuffer(GL_FRAMEBUFFER, 0);
            gl_->glDeleteFramebuffers(2, framebuffers_);
            gl_->glDeleteRenderbuffers(2, colorBuffers_);
            if (depthBuffer_ != 0)
                gl_->glDeleteRenderbuffers(1, &depthBuffer_);
            if (litBuffer_ != 0)
                gl_->glDeleteBuffers(1, &litBuffer_);
            if (keptIndexBuffer_ != 0)
                gl_->glDeleteBuffers(1, &keptIndexBuffer_);
        }
        for (Program& p : programs_)
            delete p.program;
        context_->doneCurrent();
    } else {
        for (Program& p : programs_)
            delete p.program;
    }
    delete context_;
    delete fallbackSurface_;
    owner_->Release();
}

bool Device::MakeCurrent() {
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

void Device::Forget(Texture* texture) {
    if (texture_ == texture)
        texture_ = nullptr;
    if (texture != nullptr && boundTexture_ == texture->texture())
        boundTexture_ = 0;
}

void Device::Forget(VertexBuffer* buffer) {
    if (stream_ == buffer)
        stream_ = nullptr;
    if (buffer != nullptr && layoutBuffer_ == buffer->buffer())
        layoutBuffer_ = ~0u;
}

void Device::BindTextureForUpload(GLuint texture) {
    if (boundTexture_ != texture) {
        gl_->glBindTexture(GL_TEXTURE_2D, texture);
        boundTexture_ = texture;
    }
}

void Device::BindArrayBufferForUpload(GLuint buffer) {
    gl_->glBindBuffer(GL_ARRAY_BUFFER, buffer);
}

// ---- Resources ----------------------------------------------------------------------------

UINT Device::GetAvailableTextureMem() {
    const std::int64_t total = std::int64_t(ReportableMemory(adapter_.memoryBytes));
    return UINT(std::max<std::int64_t>(0, total - allocated_));
}

HRESULT Device::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                   IDirect3DVertexBuffer8** ppVertexBuffer) {
    if (ppVertexBuffer == nullptr)
        return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    if (Length == 0 || (Usage & ~kKnownUsage) != 0 || (FVF != 0 && FVF != kFvf) ||
        (FVF != 0 && Length < kFvfSize) || !ValidPool(Pool) || Length > 0x7FFFFFFFu)
        return D3DERR_INVALIDCALL;
    if (!MakeCurrent())
        return D3DERR_INVALIDCALL;
    std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[Length]);
    if (!data)
        return E_OUTOFMEMORY;
    std::memset(data.get(), 0, Length);
    while (gl_->glGetError() != GL_NO_ERROR) {
    }
    GLuint buffer = 0;
    gl_->glGenBuffers(1, &buffer);
    gl_->glBindBuffer(GL_ARRAY_BUFFER, buffer);
    gl_->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(Length), data.get(), GL_STATIC_DRAW);
    if (gl_->glGetError() != GL_NO_ERROR) {
        gl_->glDeleteBuffers(1, &buffer);
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *ppVertexBuffer = new VertexBuffer(this, Length, Pool, std::move(data), buffer);
    return D3D_OK;
}

HRESULT Device::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                              D3DPOOL Pool, IDirect3DTexture8** ppTexture) {
    if (ppTexture == nullptr)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    const UINT maxSize = UINT(adapter_.maxTextureSize);
    if (Width == 0 || Height == 0 || Width > maxSize || Height > maxSize || Usage != 0 ||
        (Format != D3DFMT_A8R8G8B8 && Format != D3DFMT_X8R8G8B8) || !ValidPool(Pool))
        return D3DERR_INVALIDCALL;
    UINT fullChain = 1;
    while ((std::max(Width, Height) >> fullChain) != 0)
        ++fullChain;
    if (Levels > fullChain)
        return D3DERR_INVALIDCALL;
    const UINT levels = Levels == 0 ? fullChain : Levels;
    if (!MakeCurrent())
        return D3DERR_INVALIDCALL;
    while (gl_->glGetError() != GL_NO_ERROR) {
    }
    GLuint texture = 0;
    gl_->glGenTextures(1, &texture);
    BindTextureForUpload(texture);
    std::uint64_t bytes = 0;
    const GLint internal = Format == D3DFMT_A8R8G8B8 ? GL_RGBA8 : GL_RGB8;
    for (UINT level = 0; level < levels; ++level) {
        const UINT w = std::max<UINT>(1, Width >> level), h = std::max<UINT>(1, Height >> level);
        gl_->glTexImage2D(GL_TEXTURE_2D, GLint(level), internal, GLsizei(w), GLsizei(h), 0, GL_BGRA,
                          GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
        bytes += std::uint64_t(w) * h * 4;
    }
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(levels - 1));
    if (gl_->glGetError() != GL_NO_ERROR) {
        boundTexture_ = 0;
        gl_->glDeleteTextures(1, &texture);
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *ppTexture = new Texture(this, Width, Height, levels, Format, Pool, texture, bytes);
    return D3D_OK;
}

HRESULT Device::CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                   IDirect3DSurface8** ppSurface) {
    if (ppSurface == nullptr)
        return D3DERR_INVALIDCALL;
    *ppSurface = nullptr;
    if (Width == 0 || Height == 0 || Width > 16384 || Height > 16384 ||
        (Format != D3DFMT_A8R8G8B8 && Format != D3DFMT_X8R8G8B8))
        return D3DERR_INVALIDCALL;
    const std::size_t size = std::size_t(Width) * Height * 4;
    std::unique_ptr<BYTE[]> pixels(new (std::nothrow) BYTE[size]);
    if (!pixels)
        return E_OUTOFMEMORY;
    std::memset(pixels.get(), 0, size);
    *ppSurface = new Surface(this, Width, Height, Format, std::move(pixels));
    return D3D_OK;
}

// ---- Frames -------------------------------------------------------------------------------

HRESULT Device::GetFrontBuffer(IDirect3DSurface8* pDestSurface) {
    auto* surface = dynamic_cast<Surface*>(pDestSurface);
    if (surface == nullptr || surface->device() != this || surface->format() != D3DFMT_A8R8G8B8 ||
        surface->width() != UINT(width_) || surface->height() != UINT(height_) ||
        surface->locked() || !MakeCurrent())
        return D3DERR_INVALIDCALL;
    const int front = 1 - back_;
    gl_->glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[front]);
    BYTE* pixels = surface->pixels();
    gl_->glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    gl_->glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[back_]);
    // GL's rows run bottom-up; the surface's run top-down like the screen.
    const std::size_t pitch = std::size_t(width_) * 4;
    for (int top = 0, bottom = height_ - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels + top * pitch, pixels + (top + 1) * pitch, pixels + bottom * pitch);
    for (std::size_t i = 3; i < pitch * std::size_t(height_); i += 4)
        pixels[i] = 0xFF;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                      DWORD Stencil) {
    (void)Stencil;
    if (Flags == 0 || (Flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0 ||
        (Flags & D3DCLEAR_STENCIL) != 0 || ((Flags & D3DCLEAR_ZBUFFER) != 0 && !hasDepth_) ||
        (Count > 0 && pRects == nullptr) || !(Z >= 0.0f && Z <= 1.0f) || !MakeCurrent())
        return D3DERR_INVALIDCALL;
    GLbitfield mask = 0;
    if (Flags & D3DCLEAR_TARGET) {
        float rgb[3];
        ColorToFloats(Color, rgb);
        gl_->glClearColor(rgb[0], rgb[1], rgb[2], 1.0f);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (Flags & D3DCLEAR_ZBUFFER) {
        gl_->glClearDepthf(Z);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (Count == 0) {
        gl_->glClear(mask);
        return D3D_OK;
    }
    gl_->glEnable(GL_SCISSOR_TEST);
    for (DWORD i = 0; i < Count; ++i) {
        const LONG x1 = std::max<LONG>(0, pRects[i].x1), y1 = std::max<LONG>(0, pRects[i].y1);
        const LONG x2 = std::min<LONG>(width_, pRects[i].x2);
        const LONG y2 = std::min<LONG>(height_, pRects[i].y2);
        if (x1 >= x2 || y1 >= y2)
            continue;
        gl_->glScissor(x1, height_ - y2, x2 - x1, y2 - y1); // rectangles are y-down
        gl_->glClear(mask);
    }
    gl_->glDisable(GL_SCISSOR_TEST);
    return D3D_OK;
}

HRESULT Device::BeginScene() {
    if (inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                        const RGNDATA* pDirtyRegion) {
    // A full-screen device presents the whole back buffer on its own window.
    if (pSourceRect != nullptr || pDestRect != nullptr || hDestWindowOverride != nullptr ||
        pDirtyRegion != nullptr || !MakeCurrent())
        return D3DERR_INVALIDCALL;
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
        gl_->glClearColor(0, 0, 0, 1);
        gl_->glClear(GL_COLOR_BUFFER_BIT);
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
    return D3D_OK;
}

// ---- State --------------------------------------------------------------------------------

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    if (pMatrix == nullptr)
        return D3DERR_INVALIDCALL;
    switch (State) {
    case D3DTS_WORLD:
        world_ = *pMatrix;
        break;
    case D3DTS_VIEW:
        view_ = *pMatrix;
        lightsDirty_ = true; // lights live in camera space
        break;
    case D3DTS_PROJECTION:
        projection_ = *pMatrix;
        break;
    default:
        return D3DERR_INVALIDCALL;
    }
    matricesDirty_ = true;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) {
    switch (State) {
    case D3DRS_ZENABLE:
        if (Value > 2)
            return D3DERR_INVALIDCALL;
        zEnable_ = Value != D3DZB_FALSE; // w-buffering falls back to z
        return D3D_OK;
    case D3DRS_CULLMODE:
        if (Value < D3DCULL_NONE || Value > D3DCULL_CCW)
            return D3DERR_INVALIDCALL;
        cullMode_ = Value;
        return D3D_OK;
    case D3DRS_LIGHTING:
        lighting_ = Value != 0;
        lightsDirty_ = true;
        return D3D_OK;
    case D3DRS_AMBIENT:
        ambient_ = Value;
        lightsDirty_ = true;
        return D3D_OK;
    }
    return D3DERR_INVALIDCALL;
}

HRESULT Device::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) {
    if (Stage >= 8)
        return D3DERR_INVALIDCALL;
    switch (Type) {
    case D3DTSS_COLOROP:
        if (Value < D3DTOP_DISABLE || Value > D3DTOP_MODULATE)
            return D3DERR_INVALIDCALL;
        if (Stage == 0)
            colorOp_ = Value;
        return D3D_OK;
    case D3DTSS_MAGFILTER:
    case D3DTSS_MINFILTER:
        if (Value != D3DTEXF_POINT && Value != D3DTEXF_LINEAR)
            return D3DERR_INVALIDCALL;
        break;
    case D3DTSS_MIPFILTER:
        if (Value > D3DTEXF_LINEAR)
            return D3DERR_INVALIDCALL;
        break;
    default:
        return D3DERR_INVALIDCALL;
    }
    if (Stage != 0)
        return D3D_OK; // one texture stage draws; the others only keep their values
    if (Type == D3DTSS_MAGFILTER)
        magFilter_ = Value;
    else if (Type == D3DTSS_MINFILTER)
        minFilter_ = Value;
    else
        mipFilter_ = Value;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL8* pMaterial) {
    if (pMaterial == nullptr)
        return D3DERR_INVALIDCALL;
    material_ = *pMaterial;
    lightsDirty_ = true;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD Index, const D3DLIGHT8* pLight) {
    if (pLight == nullptr || Index >= lights_.size() || pLight->Type != D3DLIGHT_POINT)
        return D3DERR_INVALIDCALL;
    if (!(pLight->Range >= 0.0f) || !(pLight->Attenuation0 >= 0.0f) ||
        !(pLight->Attenuation1 >= 0.0f) || !(pLight->Attenuation2 >= 0.0f))
        return D3DERR_INVALIDCALL;
    lights_[Index] = *pLight;
    lightSet_[Index] = true;
    lightsDirty_ = true;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD Index, BOOL Enable) {
    // Only point lights are drawn, so a light must be set before it is switched on.
    if (Index >= lights_.size() || (Enable && !lightSet_[Index]))
        return D3DERR_INVALIDCALL;
    lightEnabled_[Index] = Enable != 0;
    lightsDirty_ = true;
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD Stage, IDirect3DTexture8* pTexture) {
    if (Stage >= 8)
        return D3DERR_INVALIDCALL;
    Texture* texture = nullptr;
    if (pTexture != nullptr) {
        texture = dynamic_cast<Texture*>(pTexture);
        if (texture == nullptr || texture->device() != this || Stage != 0)
            return D3DERR_INVALIDCALL;
    }
    if (Stage == 0)
        texture_ = texture;
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData,
                                UINT Stride) {
    if (StreamNumber != 0 || Stride > 255)
        return D3DERR_INVALIDCALL;
    VertexBuffer* buffer = nullptr;
    if (pStreamData != nullptr) {
        buffer = dynamic_cast<VertexBuffer*>(pStreamData);
        if (buffer == nullptr || buffer->device() != this)
            return D3DERR_INVALIDCALL;
    }
    if (buffer != stream_ || Stride != stride_)
        layoutBuffer_ = ~0u;
    stream_ = buffer;
    stride_ = Stride;
    return D3D_OK;
}

HRESULT Device::SetVertexShader(DWORD Handle) {
    if (Handle != kFvf)
        return D3DERR_INVALIDCALL; // the one vertex format this runtime draws
    fvf_ = Handle;
    return D3D_OK;
}

// ---- Drawing ------------------------------------------------------------------------------

void Device::ComputeMatrices() {
    // Direct3D clip space has z in 0..w and pixel centres on integers; GL has z in -w..w and
    // centres on halves. One matrix after the projection moves one onto the other.
    D3DMATRIX fix = Identity();
    fix._33 = 2.0f;
    fix._43 = -1.0f;
    fix._41 = 1.0f / float(width_);
    fix._42 = -1.0f / float(height_);
    const D3DMATRIX cameraFromObject = Multiply(world_, view_);
    drawState_.cameraFromObject = cameraFromObject;
    drawState_.clipFromObject = Multiply(Multiply(cameraFromObject, projection_), fix);
    NormalMatrix(cameraFromObject, normalMatrix_);
    matricesDirty_ = false;
    ++matrixGeneration_;
}

void Device::UpdateLights() {
    swvp::DrawState& s = drawState_;
    s.lighting = lighting_;
    ColorToFloats(ambient_, s.globalAmbient);
    s.materialDiffuse = material_.Diffuse;
    s.materialAmbient = material_.Ambient;
    s.materialEmissive = material_.Emissive;
    s.lightCount = 0;
    for (std::size_t i = 0; i < lights_.size(); ++i) {
        if (!lightEnabled_[i])
            continue;
        const D3DLIGHT8& l = lights_[i];
        swvp::PointLight& p = s.lights[s.lightCount++];
        const D3DMATRIX& v = view_;
        const float x = l.Position.x, y = l.Position.y, z = l.Position.z;
        p.position[0] = x * v._11 + y * v._21 + z * v._31 + v._41;
        p.position[1] = x * v._12 + y * v._22 + z * v._32 + v._42;
        p.position[2] = x * v._13 + y * v._23 + z * v._33 + v._43;
        p.diffuse[0] = l.Diffuse.r, p.diffuse[1] = l.Diffuse.g, p.diffuse[2] = l.Diffuse.b;
        p.ambient[0] = l.Ambient.r, p.ambient[1] = l.Ambient.g, p.ambient[2] = l.Ambient.b;
        p.range = l.Range;
        p.attenuation0 = l.Attenuation0;
        p.attenuation1 = l.Attenuation1;
        p.attenuation2 = l.Attenuation2;
    }
    lightsDirty_ = false;
    ++lightGeneration_;
    if (!software_)
        PrepareHardwareLights();
}

void Device::PrepareHardwareLights() {
    // The material's products are made here once rather than per vertex, in double as the
    // software path makes them.
    const swvp::DrawState& s = drawState_;
    HardwareLights& h = hwLights_;
    const D3DCOLORVALUE& md = s.materialDiffuse;
    const D3DCOLORVALUE& ma = s.materialAmbient;
    const D3DCOLORVALUE& me = s.materialEmissive;
    const double diffuse[3] = {md.r, md.g, md.b}, ambient[3] = {ma.r, ma.g, ma.b};
    const double emissive[3] = {me.r, me.g, me.b};
    for (int c = 0; c < 3; ++c)
        h.base[c] = float(emissive[c] + ambient[c] * s.globalAmbient[c]);
    h.base[3] = std::clamp(md.a, 0.0f, 1.0f);
    h.anyAmbient = false;
    for (int i = 0; i < s.lightCount; ++i) {
        const swvp::PointLight& l = s.lights[i];
        for (int c = 0; c < 3; ++c) {
            h.position[i][c] = l.position[c];
            h.diffuse[i][c] = float(diffuse[c] * l.diffuse[c]);
            h.ambient[i][c] = float(ambient[c] * l.ambient[c]);
            h.anyAmbient = h.anyAmbient || h.ambient[i][c] != 0.0f;
        }
        h.attenuation[i][0] = l.range;
        h.attenuation[i][1] = l.attenuation0;
        h.attenuation[i][2] = l.attenuation1;
        h.attenuation[i][3] = l.attenuation2;
    }
}

void Device::ApplyRasterState() {
    const int depth = zEnable_ && hasDepth_ ? 1 : 0;
    if (depth != appliedDepth_) {
        depth ? gl_->glEnable(GL_DEPTH_TEST) : gl_->glDisable(GL_DEPTH_TEST);
        appliedDepth_ = depth;
    }
    if (int(cullMode_) != appliedCull_) {
        // GL's back faces are Direct3D's counter-clockwise ones.
        if (cullMode_ == D3DCULL_NONE) {
            gl_->glDisable(GL_CULL_FACE);
        } else {
            gl_->glEnable(GL_CULL_FACE);
            gl_->glCullFace(cullMode_ == D3DCULL_CCW ? GL_BACK : GL_FRONT);
        }
        appliedCull_ = int(cullMode_);
    }
}

void Device::ApplyTexture() {
    if (texture_ == nullptr)
        return;
    BindTextureForUpload(texture_->texture());
    const GLint mag = magFilter_ == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
    GLint min = minFilter_ == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
    if (mipFilter_ == D3DTEXF_POINT)
        min = minFilter_ == D3DTEXF_LINEAR ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else if (mipFilter_ == D3DTEXF_LINEAR)
        min = minFilter_ == D3DTEXF_LINEAR ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    if (texture_->appliedMag != mag) {
        gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag);
        texture_->appliedMag = mag;
    }
    if (texture_->appliedMin != min) {
        gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min);
        texture_->appliedMin = min;
    }
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                              UINT PrimitiveCount) {
    if (!inScene_ || PrimitiveType != D3DPT_TRIANGLELIST || stream_ == nullptr ||
        stride_ != kFvfSize || fvf_ != kFvf || stream_->locked() || PrimitiveCount > 0xFFFFFu)
        return D3DERR_INVALIDCALL;
    const std::uint64_t end = std::uint64_t(StartVertex) + std::uint64_t(PrimitiveCount) * 3;
    if (end * kFvfSize > stream_->length())
        return D3DERR_INVALIDCALL;
    if (PrimitiveCount == 0)
        return D3D_OK;
    if (!MakeCurrent())
        return D3DERR_INVALIDCALL;
    if (matricesDirty_)
        ComputeMatrices();
    if (lightsDirty_)
        UpdateLights();
    ApplyRasterState();
    return software_ ? DrawSoftware(StartVertex, PrimitiveCount * 3)
                     : DrawHardware(StartVertex, PrimitiveCount * 3);
}

HRESULT Device::DrawHardware(UINT start, UINT count) {
    const swvp::DrawState& s = drawState_;
    const HardwareLights& h = hwLights_;
    const int vertexVariant = s.lighting ? 2 + 2 * s.lightCount + (h.anyAmbient ? 1 : 0) : 1;
    Program* p = UseProgram(vertexVariant);
    if (p == nullptr)
        return D3DERR_INVALIDCALL;
    if (p->matrices != matrixGeneration_) {
        gl_->glUniformMatrix4fv(p->clipFromObject, 1, GL_FALSE, &s.clipFromObject.m[0][0]);
        if (s.lighting) {
            gl_->glUniformMatrix4fv(p->cameraFromObject, 1, GL_FALSE, &s.cameraFromObject.m[0][0]);
            gl_->glUniformMatrix3fv(p->normalMatrix, 1, GL_FALSE, normalMatrix_);
        }
        p->matrices = matrixGeneration_;
    }
    if (s.lighting && p->lights != lightGeneration_) {
        gl_->glUniform4fv(p->base, 1, h.base);
        if (s.lightCount > 0) {
            gl_->glUniform3fv(p->lightPosition, s.lightCount, h.position[0]);
            gl_->glUniform3fv(p->lightDiffuse, s.lightCount, h.diffuse[0]);
            if (h.anyAmbient)
                gl_->glUniform3fv(p->lightAmbient, s.lightCount, h.ambient[0]);
            gl_->glUniform4fv(p->lightAttenuation, s.lightCount, h.attenuation[0]);
        }
        p->lights = lightGeneration_;
    }
    ApplyTexture();
    if (layoutBuffer_ != stream_->buffer()) {
        gl_->glBindBuffer(GL_ARRAY_BUFFER, stream_->buffer());
        gl_->glEnableVertexAttribArray(kPosition);
        gl_->glEnableVertexAttribArray(kSecond);
        gl_->glEnableVertexAttribArray(kTexcoord);
        gl_->glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, GLsizei(stride_), nullptr);
        gl_->glVertexAttribPointer(kSecond, 3, GL_FLOAT, GL_FALSE, GLsizei(stride_),
                                   reinterpret_cast<void*>(12));
        gl_->glVertexAttribPointer(kTexcoord, 2, GL_FLOAT, GL_FALSE, GLsizei(stride_),
                                   reinterpret_cast<void*>(24));
        layoutBuffer_ = stream_->buffer();
    }
    const DriverAllocations guard;
    gl_->glDrawArrays(GL_TRIANGLES, GLint(start), GLsizei(count));
    return D3D_OK;
}

HRESULT Device::DrawSoftware(UINT start, UINT count) {
    const swvp::DistinctVertices::Range* range = stream_->DistinctRange(start, count);
    if (range == nullptr)
        return D3DERR_INVALIDCALL;
    const std::size_t n = range->vertices.size();
    if (n > litCapacity_) {
        std::unique_ptr<swvp::LitVertex[]> grown(new (std::nothrow) swvp::LitVertex[n]);
        if (!grown)
            return E_OUTOFMEMORY;
        litScratch_ = std::move(grown);
        litCapacity_ = n;
        gl_->glBindBuffer(GL_ARRAY_BUFFER, litBuffer_);
        gl_->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(n * sizeof(swvp::LitVertex)), nullptr,
                          GL_STREAM_DRAW);
        layoutBuffer_ = ~0u;
    }
    if (count > keptCapacity_) {
        std::unique_ptr<std::uint32_t[]> grown(new (std::nothrow) std::uint32_t[count]);
        if (!grown)
            return E_OUTOFMEMORY;
        keptScratch_ = std::move(grown);
        keptCapacity_ = count;
        gl_->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, keptIndexBuffer_);
        gl_->glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(count * sizeof(std::uint32_t)),
                          nullptr, GL_STREAM_DRAW);
    }
    swvp::ProcessVertices(range->vertices.data(), n, drawState_, litScratch_.get());
    // Most of a draw's triangles lie wholly outside the view; dropping them here spares the
    // rasteriser their set-up, as a software vertex pipeline clips before rasterising.
    const std::size_t kept = swvp::KeepVisibleTriangles(litScratch_.get(), n, range->indices.data(),
                                                        count, keptScratch_.get());
    if (kept == 0)
        return D3D_OK;

    if (UseProgram(0) == nullptr)
        return D3DERR_INVALIDCALL;
    ApplyTexture();
    gl_->glBindBuffer(GL_ARRAY_BUFFER, litBuffer_);
    gl_->glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(n * sizeof(swvp::LitVertex)),
                         litScratch_.get());
    if (layoutBuffer_ != litBuffer_) {
        constexpr GLsizei stride = sizeof(swvp::LitVertex);
        gl_->glEnableVertexAttribArray(kPosition);
        gl_->glEnableVertexAttribArray(kSecond);
        gl_->glEnableVertexAttribArray(kTexcoord);
        gl_->glVertexAttribPointer(kPosition, 4, GL_FLOAT, GL_FALSE, stride, nullptr);
        gl_->glVertexAttribPointer(kSecond, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                   reinterpret_cast<void*>(offsetof(swvp::LitVertex, color)));
        gl_->glVertexAttribPointer(kTexcoord, 2, GL_FLOAT, GL_FALSE, stride,
                                   reinterpret_cast<void*>(offsetof(swvp::LitVertex, tu)));
        layoutBuffer_ = litBuffer_;
    }
    gl_->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, keptIndexBuffer_);
    gl_->glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, GLsizeiptr(kept * sizeof(std::uint32_t)),
                         keptScratch_.get());
    const DriverAllocations guard;
    gl_->glDrawElements(GL_TRIANGLES, GLsizei(kept), GL_UNSIGNED_INT, nullptr);
    return D3D_OK;
}

} // namespace d3d8rt
