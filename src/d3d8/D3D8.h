// The Direct3D 8 interface as the program uses it: records and constants with the byte
// layouts and values of the public Direct3D 8 headers, the four interfaces as abstract
// classes with reference counting and HRESULT results, and the names the runtime library
// exports. The program binds to the library in render/DirectXGraphics.h.
//
// The runtime itself is our own shared library over OpenGL (src/render/runtime). A window
// handle (HWND) is a QWindow*: the focus window given to CreateDevice becomes the device's
// full-screen window.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Basic types ----------------------------------------------------------------------------

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using HWND = void*; // a QWindow*
using D3DCOLOR = DWORD;

inline constexpr BOOL FALSE_ = 0;
// Direct3D's TRUE as the program passes it: all 32 bits set.
inline constexpr BOOL D3D_TRUE_ALL_BITS = -1;

inline constexpr HRESULT D3D_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
inline constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
inline constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
inline constexpr HRESULT D3DERR_INVALIDDEVICE = static_cast<HRESULT>(0x88760867u);

inline constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
inline constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}

inline constexpr UINT D3D_SDK_VERSION = 120;
inline constexpr UINT D3DADAPTER_DEFAULT = 0;

// ---- Enumerations ---------------------------------------------------------------------------

enum D3DDEVTYPE : std::uint32_t { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };

enum D3DFORMAT : std::uint32_t {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_R8G8B8 = 20,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_R5G6B5 = 23,
    D3DFMT_X1R5G5B5 = 24,
    D3DFMT_D16 = 80,
};

enum D3DPOOL : std::uint32_t {
    D3DPOOL_DEFAULT = 0,
    D3DPOOL_MANAGED = 1,
    D3DPOOL_SYSTEMMEM = 2,
    D3DPOOL_SCRATCH = 3,
};

enum D3DMULTISAMPLE_TYPE : std::uint32_t { D3DMULTISAMPLE_NONE = 0 };

enum D3DSWAPEFFECT : std::uint32_t {
    D3DSWAPEFFECT_DISCARD = 1,
    D3DSWAPEFFECT_FLIP = 2,
    D3DSWAPEFFECT_COPY = 3,
    D3DSWAPEFFECT_COPY_VSYNC = 4,
};

enum D3DTRANSFORMSTATETYPE : std::uint32_t {
    D3DTS_VIEW = 2,
    D3DTS_PROJECTION = 3,
    D3DTS_WORLD = 256,
};

enum D3DRENDERSTATETYPE : std::uint32_t {
    D3DRS_ZENABLE = 7,
    D3DRS_CULLMODE = 22,
    D3DRS_LIGHTING = 137,
    D3DRS_AMBIENT = 139,
};

enum D3DZBUFFERTYPE : std::uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1 };

enum D3DCULL : std::uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };

enum D3DTEXTURESTAGESTATETYPE : std::uint32_t {
    D3DTSS_COLOROP = 1,
    D3DTSS_MAGFILTER = 16,
    D3DTSS_MINFILTER = 17,
    D3DTSS_MIPFILTER = 18,
};

enum D3DTEXTUREOP : std::uint32_t {
    D3DTOP_DISABLE = 1,
    D3DTOP_SELECTARG1 = 2,
    D3DTOP_SELECTARG2 = 3,
    D3DTOP_MODULATE = 4,
};

enum D3DTEXTUREFILTERTYPE : std::uint32_t {
    D3DTEXF_NONE = 0,
    D3DTEXF_POINT = 1,
    D3DTEXF_LINEAR = 2,
};

enum D3DPRIMITIVETYPE : std::uint32_t {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

enum D3DLIGHTTYPE : std::uint32_t {
    D3DLIGHT_POINT = 1,
    D3DLIGHT_SPOT = 2,
    D3DLIGHT_DIRECTIONAL = 3,
};

enum D3DRESOURCETYPE : std::uint32_t { D3DRTYPE_SURFACE = 1, D3DRTYPE_TEXTURE = 3 };

inline constexpr DWORD D3DCLEAR_TARGET = 0x00000001;
inline constexpr DWORD D3DCLEAR_ZBUFFER = 0x00000002;
inline constexpr DWORD D3DCLEAR_STENCIL = 0x00000004;

inline constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x00000020;
inline constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x00000040;
inline constexpr DWORD D3DCREATE_MIXED_VERTEXPROCESSING = 0x00000080;

inline constexpr DWORD D3DUSAGE_WRITEONLY = 0x00000008;

inline constexpr DWORD D3DFVF_XYZ = 0x002;
inline constexpr DWORD D3DFVF_NORMAL = 0x010;
inline constexpr DWORD D3DFVF_TEX1 = 0x100;

inline constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
inline constexpr DWORD D3DDEVCAPS_HWRASTERIZATION = 0x00080000;

inline constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0x00000000;
inline constexpr UINT D3DPRESENT_INTERVAL_ONE = 0x00000001;
inline constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000;

inline constexpr D3DCOLOR D3DCOLOR_XRGB(unsigned r, unsigned g, unsigned b) {
    return 0xFF000000u | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

// ---- Records --------------------------------------------------------------------------------

struct D3DVECTOR {
    float x, y, z;
};

struct D3DCOLORVALUE {
    float r, g, b, a;
};

struct D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
};

struct D3DMATERIAL8 {
    D3DCOLORVALUE Diffuse;
    D3DCOLORVALUE Ambient;
    D3DCOLORVALUE Specular;
    D3DCOLORVALUE Emissive;
    float Power;
};

struct D3DLIGHT8 {
    D3DLIGHTTYPE Type;
    D3DCOLORVALUE Diffuse;
    D3DCOLORVALUE Specular;
    D3DCOLORVALUE Ambient;
    D3DVECTOR Position;
    D3DVECTOR Direction;
    float Range;
    float Falloff;
    float Attenuation0;
    float Attenuation1;
    float Attenuation2;
    float Theta;
    float Phi;
};

// The capability block; it is stored in Results.bin, so its layout is a file format too.
struct D3DCAPS8 {
    D3DDEVTYPE DeviceType;
    UINT AdapterOrdinal;
    DWORD Caps;
    DWORD Caps2;
    DWORD Caps3;
    DWORD PresentationIntervals;
    DWORD CursorCaps;
    DWORD DevCaps;
    DWORD PrimitiveMiscCaps;
    DWORD RasterCaps;
    DWORD ZCmpCaps;
    DWORD SrcBlendCaps;
    DWORD DestBlendCaps;
    DWORD AlphaCmpCaps;
    DWORD ShadeCaps;
    DWORD TextureCaps;
    DWORD TextureFilterCaps;
    DWORD CubeTextureFilterCaps;
    DWORD VolumeTextureFilterCaps;
    DWORD TextureAddressCaps;
    DWORD VolumeTextureAddressCaps;
    DWORD LineCaps;
    DWORD MaxTextureWidth;
    DWORD MaxTextureHeight;
    DWORD MaxVolumeExtent;
    DWORD MaxTextureRepeat;
    DWORD MaxTextureAspectRatio;
    DWORD MaxAnisotropy;
    float MaxVertexW;
    float GuardBandLeft;
    float GuardBandTop;
    float GuardBandRight;
    float GuardBandBottom;
    float ExtentsAdjust;
    DWORD StencilCaps;
    DWORD FVFCaps;
    DWORD TextureOpCaps;
    DWORD MaxTextureBlendStages;
    DWORD MaxSimultaneousTextures;
    DWORD VertexProcessingCaps;
    DWORD MaxActiveLights;
    DWORD MaxUserClipPlanes;
    DWORD MaxVertexBlendMatrices;
    DWORD MaxVertexBlendMatrixIndex;
    float MaxPointSize;
    DWORD MaxPrimitiveCount;
    DWORD MaxVertexIndex;
    DWORD MaxStreams;
    DWORD MaxStreamStride;
    DWORD VertexShaderVersion;
    DWORD MaxVertexShaderConst;
    DWORD PixelShaderVersion;
    float MaxPixelShaderValue;
};

struct D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT FullScreen_PresentationInterval;
};

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

inline constexpr std::size_t MAX_DEVICE_IDENTIFIER_STRING = 512;

struct D3DADAPTER_IDENTIFIER8 {
    char Driver[MAX_DEVICE_IDENTIFIER_STRING];
    char Description[MAX_DEVICE_IDENTIFIER_STRING];
    std::int64_t DriverVersion;
    DWORD VendorId;
    DWORD DeviceId;
    DWORD SubSysId;
    DWORD Revision;
    GUID DeviceIdentifier;
    DWORD WHQLLevel;
};

struct D3DLOCKED_RECT {
    INT Pitch;
    void* pBits;
};

struct RECT {
    LONG left, top, right, bottom;
};

struct D3DRECT {
    LONG x1, y1, x2, y2;
};

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    UINT Width;
    UINT Height;
};

struct RGNDATA; // only ever passed as null

static_assert(sizeof(D3DVECTOR) == 12);
static_assert(sizeof(D3DCOLORVALUE) == 16);
static_assert(sizeof(D3DMATRIX) == 64);
static_assert(sizeof(D3DMATERIAL8) == 68);
static_assert(sizeof(D3DLIGHT8) == 104);
static_assert(offsetof(D3DLIGHT8, Position) == 52);
static_assert(offsetof(D3DLIGHT8, Range) == 76);
static_assert(offsetof(D3DLIGHT8, Attenuation1) == 88);
static_assert(sizeof(D3DCAPS8) == 212);
static_assert(offsetof(D3DCAPS8, DeviceType) == 0);
static_assert(offsetof(D3DCAPS8, DevCaps) == 28);
static_assert(offsetof(D3DCAPS8, MaxTextureWidth) == 88);
static_assert(offsetof(D3DCAPS8, MaxTextureHeight) == 92);
static_assert(offsetof(D3DCAPS8, MaxVertexW) == 112);
static_assert(offsetof(D3DCAPS8, MaxActiveLights) == 160);
static_assert(offsetof(D3DCAPS8, MaxPixelShaderValue) == 208);
static_assert(sizeof(D3DDISPLAYMODE) == 16);

// ---- Interfaces -----------------------------------------------------------------------------

class IDirect3DDevice8;

// Reference counted like COM objects: a new object has count 1, Release at 0 frees it.
class IUnknown {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class IDirect3DVertexBuffer8 : public IUnknown {
public:
    virtual HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) = 0;
    virtual HRESULT Unlock() = 0;
};

class IDirect3DSurface8 : public IUnknown {
public:
    virtual HRESULT GetDesc(D3DSURFACE_DESC* pDesc) = 0;
    virtual HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) = 0;
    virtual HRESULT UnlockRect() = 0;
};

class IDirect3DTexture8 : public IUnknown {
public:
    virtual DWORD GetLevelCount() = 0;
    virtual HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                             DWORD Flags) = 0;
    virtual HRESULT UnlockRect(UINT Level) = 0;
};

class IDirect3DDevice8 : public IUnknown {
public:
    virtual UINT GetAvailableTextureMem() = 0;
    virtual HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                       IDirect3DVertexBuffer8** ppVertexBuffer) = 0;
    virtual HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                                  D3DFORMAT Format, D3DPOOL Pool,
                                  IDirect3DTexture8** ppTexture) = 0;
    // A system-memory surface that GetFrontBuffer can fill (format D3DFMT_A8R8G8B8).
    virtual HRESULT CreateImageSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                       IDirect3DSurface8** ppSurface) = 0;
    // Copies what the screen shows (the last presented picture, at the mode's size) into a
    // D3DFMT_A8R8G8B8 image surface of that size.
    virtual HRESULT GetFrontBuffer(IDirect3DSurface8* pDestSurface) = 0;
    virtual HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                          DWORD Stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect,
                            HWND hDestWindowOverride, const RGNDATA* pDirtyRegion) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) = 0;
    virtual HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                         DWORD Value) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL8* pMaterial) = 0;
    virtual HRESULT SetLight(DWORD Index, const D3DLIGHT8* pLight) = 0;
    virtual HRESULT LightEnable(DWORD Index, BOOL Enable) = 0;
    virtual HRESULT SetTexture(DWORD Stage, IDirect3DTexture8* pTexture) = 0;
    virtual HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer8* pStreamData,
                                    UINT Stride) = 0;
    virtual HRESULT SetVertexShader(DWORD Handle) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                  UINT PrimitiveCount) = 0;
};

class IDirect3D8 : public IUnknown {
public:
    virtual UINT GetAdapterCount() = 0;
    virtual HRESULT GetAdapterIdentifier(UINT Adapter, DWORD Flags,
                                         D3DADAPTER_IDENTIFIER8* pIdentifier) = 0;
    virtual HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) = 0;
    virtual HRESULT CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                                    D3DFORMAT BackBufferFormat, BOOL Windowed) = 0;
    virtual HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps) = 0;
    virtual HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                                 DWORD BehaviorFlags,
                                 D3DPRESENT_PARAMETERS* pPresentationParameters,
                                 IDirect3DDevice8** ppReturnedDeviceInterface) = 0;
};

// ---- Binding --------------------------------------------------------------------------------

// Exported by the runtime library: the entry point, and a switch for tests only (the program
// never calls it) that makes a software renderer count as a hardware one, so the HAL paths can
// be tested on machines without a GPU.
using Direct3DCreate8Proc = IDirect3D8* (*)(UINT SDKVersion);
using Direct3DTestSoftwareAsHardwareProc = void (*)(int enable);
inline constexpr const char* Direct3DCreate8Symbol = "Direct3DCreate8";
inline constexpr const char* Direct3DTestSoftwareAsHardwareSymbol =
    "D3D8TestTreatSoftwareAsHardware";
