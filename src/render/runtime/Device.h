// The full-screen device: a W x H back buffer in an OpenGL framebuffer object, drawn with a
// generated GLSL transform-and-lighting stage (hardware vertex processing) or with the CPU
// kernel of swvp/ (software vertex processing), and shown on the focus window by Present.
#pragma once

#include "render/runtime/Objects.h"

#include <array>

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
    bool MakeCurrent();
    QOpenGLExtraFunctions* gl() { return gl_; }
    void Allocated(std::int64_t bytes) { allocated_ += bytes; }
    void Forget(Texture* texture);
    void Forget(VertexBuffer* buffer);
    // Binds a texture to unit 0 for an upload; drawing re-binds what it needs.
    void BindTextureForUpload(GLuint texture);
    void BindArrayBufferForUpload(GLuint buffer);
    bool softwareVertexProcessing() const { return software_; }

private:
    Device(Direct3D* owner, D3DDEVTYPE type, QWindow* window, bool software,
           const D3DPRESENT_PARAMETERS& params);
    ~Device() override;

    bool Initialise();
    bool TakeOverWindow();
    bool BuildPrograms();
    struct Program;
    Program* UseProgram(int vertexVariant);
    bool BuildProgram(int vertexVariant, int fragmentVariant, Program& out);
    bool BuildFramebuffers();
    void ApplyFixedState();
    void UpdateLights();
    void PrepareHardwareLights();
    void ApplyRasterState();
    void ApplyTexture();
    void ComputeMatrices();
    HRESULT DrawHardware(UINT start, UINT count);
    HRESULT DrawSoftware(UINT start, UINT count);

    Direct3D* owner_;
    D3DDEVTYPE type_;
    QPointer<QWindow> window_;
    bool software_;
    D3DPRESENT_PARAMETERS params_;
    const AdapterInfo& adapter_;

    QOpenGLContext* context_ = nullptr;
    QOffscreenSurface* fallbackSurface_ = nullptr;
    QOpenGLExtraFunctions* gl_ = nullptr;
    std::int64_t allocated_ = 0;

    // Two colour buffers take turns as back buffer and last presented picture; one depth
    // buffer serves both.
    GLuint framebuffers_[2] = {};
    GLuint colorBuffers_[2] = {};
    GLuint depthBuffer_ = 0;
    int back_ = 0;
    bool hasDepth_ = false;
    int width_ = 0, height_ = 0;

    // One linked program per combination of the state the shaders are specialised on, built on
    // first use. Vertex variants: 0 software, 1 hardware unlit, 2 + 2 x lights + (any light
    // ambient) hardware lit. Fragment variants: 3 x (texture present) + colour operation.
    static constexpr int kVertexVariants = 2 + 2 * 9, kFragmentVariants = 2 * 3;
    struct Program {
        QOpenGLShaderProgram* program = nullptr;
        GLuint id = 0;
        GLint clipFromObject = -1, cameraFromObject = -1, normalMatrix = -1, base = -1,
              lightPosition = -1, lightDiffuse = -1, lightAmbient = -1, lightAttenuation = -1;
        // Generations of the matrices and lights its uniforms hold (0 = none yet).
        std::uint64_t matrices = 0, lights = 0;
    };
    std::array<Program, kVertexVariants * kFragmentVariants> programs_{};
    GLuint litBuffer_ = 0;
    std::size_t litCapacity_ = 0; // vertices
    std::unique_ptr<swvp::LitVertex[]> litScratch_;
    // The indices of a software draw's triangles that can reach the screen.
    GLuint keptIndexBuffer_ = 0;
    std::size_t keptCapacity_ = 0; // indices
    std::unique_ptr<std::uint32_t[]> keptScratch_;

    // Direct3D state.
    D3DMATRIX world_{}, view_{}, projection_{};
    bool zEnable_ = false;
    DWORD cullMode_ = D3DCULL_CCW;
    bool lighting_ = true;
    D3DCOLOR ambient_ = 0;
    D3DMATERIAL8 material_{};
    std::array<D3DLIGHT8, 8> lights_{};
    std::array<bool, 8> lightSet_{}, lightEnabled_{};
    Texture* texture_ = nullptr;
    DWORD colorOp_ = D3DTOP_MODULATE;
    DWORD magFilter_ = D3DTEXF_POINT, minFilter_ = D3DTEXF_POINT, mipFilter_ = D3DTEXF_NONE;
    VertexBuffer* stream_ = nullptr;
    UINT stride_ = 0;
    DWORD fvf_ = 0;
    bool inScene_ = false;

    // Derived state, recomputed when its inputs change.
    bool matricesDirty_ = true, lightsDirty_ = true;
    swvp::DrawState drawState_{};
    float normalMatrix_[9] = {};
    std::uint64_t matrixGeneration_ = 0, lightGeneration_ = 0;
    // The lights as the hardware vertex shader takes them, products with the material made.
    struct HardwareLights {
        float base[4];
        float position[8][3], diffuse[8][3], ambient[8][3], attenuation[8][4];
        bool anyAmbient;
    } hwLights_{};

    // What GL has now, so a draw only changes what differs.
    GLuint currentProgram_ = 0;
    GLuint boundTexture_ = 0;
    GLuint layoutBuffer_ = ~0u; // the buffer the attribute pointers read (0 = none)
    int appliedDepth_ = -1, appliedCull_ = -1;
};

} // namespace d3d8rt
