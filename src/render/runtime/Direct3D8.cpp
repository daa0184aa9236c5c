// The runtime object (adapter 0 = the desktop's OpenGL renderer) and the library's two
// exported entry points.
#include "render/runtime/Device.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstring>
#include <new>

namespace d3d8rt {

namespace {

constexpr UINT kSdkVersion81 = 220; // Direct3D 8.1 callers ask with this one

void CopyText(char* out, std::size_t size, const std::string& text) {
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

bool IsKnownWindow(QWindow* window) {
    const QWindowList windows = QGuiApplication::allWindows();
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

} // namespace

bool Direct3D::DeviceTypeAvailable(D3DDEVTYPE type) const {
    if (type == D3DDEVTYPE_HAL)
        return HasHalDevice(adapter_);
    // The reference device is Mesa's software renderer, which the desktop renderer is here.
    return type == D3DDEVTYPE_REF && adapter_.software;
}

HRESULT Direct3D::GetAdapterIdentifier(UINT Adapter, DWORD Flags,
                                       D3DADAPTER_IDENTIFIER8* pIdentifier) {
    if (Adapter != 0 || pIdentifier == nullptr || (Flags & ~DWORD(2)) != 0)
        return D3DERR_INVALIDCALL;
    std::memset(pIdentifier, 0, sizeof *pIdentifier);
    CopyText(pIdentifier->Driver, sizeof pIdentifier->Driver, adapter_.vendor);
    CopyText(pIdentifier->Description, sizeof pIdentifier->Description, adapter_.renderer);
    return D3D_OK;
}

HRESULT Direct3D::GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) {
    if (Adapter != 0 || pMode == nullptr)
        return D3DERR_INVALIDCALL;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return D3DERR_NOTAVAILABLE;
    const QSize size = screen->size() * screen->devicePixelRatio();
    pMode->Width = UINT(size.width());
    pMode->Height = UINT(size.height());
    pMode->RefreshRate = UINT(std::max(0.0, screen->refreshRate() + 0.5));
    pMode->Format = screen->depth() >= 24 ? D3DFMT_X8R8G8B8 : D3DFMT_R5G6B5;
    return D3D_OK;
}

HRESULT Direct3D::CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                                  D3DFORMAT BackBufferFormat, BOOL Windowed) {
    if (Adapter != 0 || (CheckType != D3DDEVTYPE_HAL && CheckType != D3DDEVTYPE_REF))
        return D3DERR_INVALIDCALL;
    if (!DeviceTypeAvailable(CheckType))
        return D3DERR_NOTAVAILABLE;
    if (Windowed || DisplayFormat != BackBufferFormat ||
        (DisplayFormat != D3DFMT_R5G6B5 && DisplayFormat != D3DFMT_X8R8G8B8))
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT Direct3D::GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps) {
    if (Adapter != 0 || pCaps == nullptr ||
        (DeviceType != D3DDEVTYPE_HAL && DeviceType != D3DDEVTYPE_REF))
        return D3DERR_INVALIDCALL;
    // A computer without a 3D driver has no HAL device; the reference device always has caps.
    if (DeviceType == D3DDEVTYPE_HAL && !HasHalDevice(adapter_))
        return D3DERR_NOTAVAILABLE;
    FillCaps(adapter_, DeviceType, *pCaps);
    return D3D_OK;
}

HRESULT Direct3D::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                               DWORD BehaviorFlags, D3DPRESENT_PARAMETERS* pPresentationParameters,
                               IDirect3DDevice8** ppReturnedDeviceInterface) {
    if (ppReturnedDeviceInterface == nullptr)
        return D3DERR_INVALIDCALL;
    *ppReturnedDeviceInterface = nullptr;
    const DWORD processing =
        BehaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                         D3DCREATE_MIXED_VERTEXPROCESSING);
    if (Adapter != 0 || pPresentationParameters == nullptr || hFocusWindow == nullptr ||
        (DeviceType != D3DDEVTYPE_HAL && DeviceType != D3DDEVTYPE_REF) ||
        (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING &&
         processing != D3DCREATE_HARDWARE_VERTEXPROCESSING))
        return D3DERR_INVALIDCALL;
    auto* window = static_cast<QWindow*>(hFocusWindow);
    if (!IsKnownWindow(window))
        return D3DERR_INVALIDCALL;
    if (!DeviceTypeAvailable(DeviceType))
        return D3DERR_NOTAVAILABLE;
    Device* device = nullptr;
    const HRESULT hr =
        Device::Create(this, DeviceType, window, processing == D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                       *pPresentationParameters, &device);
    if (FAILED(hr))
        return hr;
    *ppReturnedDeviceInterface = device;
    return D3D_OK;
}

} // namespace d3d8rt

extern "C" __attribute__((visibility("default"))) IDirect3D8* Direct3DCreate8(UINT SDKVersion) {
    if (SDKVersion != D3D_SDK_VERSION && SDKVersion != d3d8rt::kSdkVersion81)
        return nullptr;
    d3d8rt::AdapterInfo adapter;
    if (!d3d8rt::QueryAdapter(adapter))
        return nullptr; // no OpenGL: as a computer without Direct3D
    return new (std::nothrow) d3d8rt::Direct3D(adapter);
}

extern "C" __attribute__((visibility("default"))) void D3D8TestTreatSoftwareAsHardware(int enable) {
    d3d8rt::TreatSoftwareAsHardware = enable != 0;
}
