// The full-screen device: validates every call in front, keeps the Direct3D state, and
// forwards to its back ends: the presenter (window, context, back buffers), the program cache
// and the hardware (GLSL) or software (CPU kernel of swvp/) vertex path.
#pragma once

#include "render/runtime/DeviceState.h"
#include "render/runtime/GlBindings.h"
#include "render/runtime/HardwareVertexPath.h"
#include "render/runtime/Objects.h"
#include "render/runtime/Presenter.h"
#include "render/runtime/ProgramCache.h"
#include "render/runtime/SoftwareVertexPath.h"

namespace d3d8rt {

class Device final : public RefCounted<IDirect3DDevice8> {
public:
    // Validates the parameters, takes over the focus window and builds the GL objects. On
    // failure nothing is left behind and *out stays null.
    static HRESULT Create(Direct3D* owner, D3DDEVTYPE type, QWindow* window,
                          bool softwareVertexProcessing, D3DPRESENT_PARAMETERS& params,
                          Device** out);

    UINT GetAvailableTextureMem() override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer8** ppVertexBuffer) override;
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                          D3DPOOL Pool, IDirect3DTexture8** ppTexture) override;
    HRESULT CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format,
                               IDirect3DSurface8** ppSurface) override;
    HRESULT GetFrontBuffer(IDirect3DSurface8* pDestSurface) override;
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                  DWORD Stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                    const RGNDATA* pDirtyRegion) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    HRESULT SetMaterial(const D3DMATERIAL8* pMaterial) override;
    HRESULT SetLight(DWORD Index, const D3DLIGHT8* pLight) override;
    HRESULT LightEnable(DWORD Index, BOOL Enable) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DTexture8* pTexture) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData,
                            UINT Stride) override;
    HRESULT SetVertexShader(DWORD Handle) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                          UINT PrimitiveCount) override;

    // For the objects the device made.
    bool MakeCurrent() { return presenter_.MakeCurrent(); }
    QOpenGLExtraFunctions* gl() { return presenter_.gl(); }
    void Allocated(std::int64_t bytes) { allocated_ += bytes; }
    void Forget(Texture* texture);
    void Forget(VertexBuffer* buffer);
    void ForgetTexture(GLuint texture) { bindings_.ForgetTexture(texture); }
    // A GL buffer is going away, or (0) buffers were bound behind the bindings' back.
    void ForgetBuffer(GLuint buffer);
    // Binds a texture to unit 0 for an upload; drawing re-binds what it needs.
    void BindTextureForUpload(GLuint texture) { bindings_.BindTexture(texture); }
    void BindArrayBufferForUpload(GLuint buffer);
    bool softwareVertexProcessing() const { return software_; }

private:
    Device(Direct3D* owner, D3DDEVTYPE type, QWindow* window, bool software,
           const D3DPRESENT_PARAMETERS& params);
    ~Device() override;

    bool Initialise();

    Direct3D* owner_;
    D3DDEVTYPE type_;
    bool software_;
    const AdapterInfo& adapter_;
    std::int64_t allocated_ = 0;

    // The back ends, in the order they are made; they only execute what was validated here.
    Presenter presenter_;
    GlBindings bindings_;
    ProgramCache programs_{bindings_};
    HardwareVertexPath hardware_{bindings_, programs_};
    SoftwareVertexPath softwarePath_{bindings_, programs_};

    DeviceState state_;
    DrawConstants constants_;
};

} // namespace d3d8rt
