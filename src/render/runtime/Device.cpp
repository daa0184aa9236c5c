#include "render/runtime/Device.h"

#include "render/runtime/DriverHeap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace d3d8rt {

namespace {

constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
constexpr UINT kFvfSize = 32;
constexpr DWORD kKnownUsage = 0x8 | 0x10 | 0x20 | 0x200; // write-only, software, no clip, dynamic

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
    : owner_(owner), type_(type), software_(software), adapter_(owner->adapter()),
      presenter_(window, params) {
    owner_->AddRef();
    state_.zEnable = params.EnableAutoDepthStencil != 0;
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

bool Device::Initialise() {
    KeepFreedHeap();
    if (!presenter_.Create())
        return false;
    QOpenGLExtraFunctions* gl = presenter_.gl();
    bindings_.Reset(gl);
    // The default state's program also shows that this driver takes our GLSL.
    ProgramKey key;
    key.software = software_;
    key.lighting = !software_;
    if (programs_.Use(key) == nullptr || (software_ && !softwarePath_.Create()))
        return false;
    return gl->glGetError() == GL_NO_ERROR;
}

Device::~Device() {
    if (presenter_.MakeCurrent() && presenter_.gl() != nullptr)
        softwarePath_.Destroy();
    programs_.Clear();
    presenter_.Destroy();
    owner_->Release();
}

void Device::Forget(Texture* texture) {
    if (state_.texture == texture)
        state_.texture = nullptr;
    if (texture != nullptr)
        bindings_.ForgetTexture(texture->texture());
}

void Device::Forget(VertexBuffer* buffer) {
    if (state_.stream == buffer)
        state_.stream = nullptr;
    if (buffer != nullptr)
        bindings_.ForgetBuffer(buffer->buffer());
}

void Device::ForgetBuffer(GLuint buffer) {
    if (buffer == 0) {
        bindings_.InvalidateLayout();
        bindings_.ForgetElementBuffer();
    } else {
        bindings_.ForgetBuffer(buffer);
    }
}

void Device::BindArrayBufferForUpload(GLuint buffer) {
    gl()->glBindBuffer(GL_ARRAY_BUFFER, buffer);
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
    VertexBuffer* buffer = nullptr;
    const HRESULT hr = VertexBuffer::Allocate(this, Length, Pool, &buffer);
    *ppVertexBuffer = buffer;
    return hr;
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
    Texture* texture = nullptr;
    const HRESULT hr = Texture::Allocate(this, Width, Height, levels, Format, Pool, &texture);
    *ppTexture = texture;
    return hr;
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
        surface->width() != UINT(presenter_.width()) ||
        surface->height() != UINT(presenter_.height()) || surface->locked() || !MakeCurrent())
        return D3DERR_INVALIDCALL;
    presenter_.ReadFront(surface->pixels());
    return D3D_OK;
}

HRESULT Device::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                      DWORD Stencil) {
    (void)Stencil;
    if (Flags == 0 || (Flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0 ||
        (Flags & D3DCLEAR_STENCIL) != 0 ||
        ((Flags & D3DCLEAR_ZBUFFER) != 0 && !presenter_.hasDepth()) ||
        (Count > 0 && pRects == nullptr) || !(Z >= 0.0f && Z <= 1.0f) || !MakeCurrent())
        return D3DERR_INVALIDCALL;
    presenter_.Clear(pRects, Count, (Flags & D3DCLEAR_TARGET) != 0, Color,
                     (Flags & D3DCLEAR_ZBUFFER) != 0, Z);
    return D3D_OK;
}

HRESULT Device::BeginScene() {
    if (state_.inScene)
        return D3DERR_INVALIDCALL;
    state_.inScene = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!state_.inScene)
        return D3DERR_INVALIDCALL;
    state_.inScene = false;
    return D3D_OK;
}

HRESULT Device::Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                        const RGNDATA* pDirtyRegion) {
    // A full-screen device presents the whole back buffer on its own window.
    if (pSourceRect != nullptr || pDestRect != nullptr || hDestWindowOverride != nullptr ||
        pDirtyRegion != nullptr || !MakeCurrent())
        return D3DERR_INVALIDCALL;
    presenter_.Present();
    if (software_)
        softwarePath_.FrameDone();
    return D3D_OK;
}

// ---- State --------------------------------------------------------------------------------

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    if (pMatrix == nullptr)
        return D3DERR_INVALIDCALL;
    switch (State) {
    case D3DTS_WORLD:
        state_.world = *pMatrix;
        break;
    case D3DTS_VIEW:
        state_.view = *pMatrix;
        state_.lightsDirty = true; // lights live in camera space
        break;
    case D3DTS_PROJECTION:
        state_.projection = *pMatrix;
        break;
    default:
        return D3DERR_INVALIDCALL;
    }
    state_.matricesDirty = true;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) {
    switch (State) {
    case D3DRS_ZENABLE:
        if (Value > 2)
            return D3DERR_INVALIDCALL;
        state_.zEnable = Value != D3DZB_FALSE; // w-buffering falls back to z
        return D3D_OK;
    case D3DRS_CULLMODE:
        if (Value < D3DCULL_NONE || Value > D3DCULL_CCW)
            return D3DERR_INVALIDCALL;
        state_.cullMode = Value;
        return D3D_OK;
    case D3DRS_LIGHTING:
        state_.lighting = Value != 0;
        state_.lightsDirty = true;
        return D3D_OK;
    case D3DRS_AMBIENT:
        state_.ambient = Value;
        state_.lightsDirty = true;
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
            state_.colorOp = Value;
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
        state_.magFilter = Value;
    else if (Type == D3DTSS_MINFILTER)
        state_.minFilter = Value;
    else
        state_.mipFilter = Value;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL8* pMaterial) {
    if (pMaterial == nullptr)
        return D3DERR_INVALIDCALL;
    state_.material = *pMaterial;
    state_.lightsDirty = true;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD Index, const D3DLIGHT8* pLight) {
    if (pLight == nullptr || Index >= state_.lights.size() || pLight->Type != D3DLIGHT_POINT)
        return D3DERR_INVALIDCALL;
    if (!(pLight->Range >= 0.0f) || !(pLight->Attenuation0 >= 0.0f) ||
        !(pLight->Attenuation1 >= 0.0f) || !(pLight->Attenuation2 >= 0.0f))
        return D3DERR_INVALIDCALL;
    state_.lights[Index] = *pLight;
    state_.lightSet[Index] = true;
    state_.lightsDirty = true;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD Index, BOOL Enable) {
    // Only point lights are drawn, so a light must be set before it is switched on.
    if (Index >= state_.lights.size() || (Enable && !state_.lightSet[Index]))
        return D3DERR_INVALIDCALL;
    state_.lightEnabled[Index] = Enable != 0;
    state_.lightsDirty = true;
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
        state_.texture = texture;
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
    if (buffer != state_.stream || Stride != state_.stride)
        bindings_.InvalidateLayout();
    state_.stream = buffer;
    state_.stride = Stride;
    return D3D_OK;
}

HRESULT Device::SetVertexShader(DWORD Handle) {
    if (Handle != kFvf)
        return D3DERR_INVALIDCALL; // the one vertex format this runtime draws
    state_.fvf = Handle;
    return D3D_OK;
}

// ---- Drawing ------------------------------------------------------------------------------

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                              UINT PrimitiveCount) {
    const VertexBuffer* stream = state_.stream;
    if (!state_.inScene || PrimitiveType != D3DPT_TRIANGLELIST || stream == nullptr ||
        state_.stride != kFvfSize || state_.fvf != kFvf || stream->locked() ||
        PrimitiveCount > 0xFFFFFu)
        return D3DERR_INVALIDCALL;
    const std::uint64_t end = std::uint64_t(StartVertex) + std::uint64_t(PrimitiveCount) * 3;
    if (end * kFvfSize > stream->length())
        return D3DERR_INVALIDCALL;
    if (PrimitiveCount == 0)
        return D3D_OK;
    if (!MakeCurrent())
        return D3DERR_INVALIDCALL;
    UpdateDrawConstants(state_, presenter_.width(), presenter_.height(), constants_);
    bindings_.ApplyRaster(state_.zEnable && presenter_.hasDepth(), state_.cullMode);
    return software_ ? softwarePath_.Draw(state_, constants_, StartVertex, PrimitiveCount * 3)
                     : hardware_.Draw(state_, constants_, StartVertex, PrimitiveCount * 3);
}

} // namespace d3d8rt
