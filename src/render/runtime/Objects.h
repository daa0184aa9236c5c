// The runtime's objects: the device and what it creates. All of them live on the thread that
// owns the QGuiApplication, as Direct3D 8 objects without D3DCREATE_MULTITHREADED do.
#pragma once

#include "d3d8/D3D8.h"
#include "render/runtime/Adapter.h"
#include "render/runtime/StaticRanges.h"
#include "render/runtime/swvp/SoftwareVertexProcessing.h"

#include <QOpenGLExtraFunctions>
#include <QWindow>

#include <cstdint>
#include <memory>
#include <vector>

namespace d3d8rt {

// COM-style reference counting: a new object has count 1 and Release at 0 frees it.
template <class Interface> class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        if (refs_ == 0)
            return 0;
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    ULONG refs_ = 1;
};

class Device;

class Direct3D final : public RefCounted<IDirect3D8> {
public:
    explicit Direct3D(const AdapterInfo& adapter) : adapter_(adapter) {}

    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterIdentifier(UINT Adapter, DWORD Flags,
                                 D3DADAPTER_IDENTIFIER8* pIdentifier) override;
    HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override;
    HRESULT CheckDeviceType(UINT Adapter, D3DDEVTYPE CheckType, D3DFORMAT DisplayFormat,
                            D3DFORMAT BackBufferFormat, BOOL Windowed) override;
    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS8* pCaps) override;
    HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                         DWORD BehaviorFlags, D3DPRESENT_PARAMETERS* pPresentationParameters,
                         IDirect3DDevice8** ppReturnedDeviceInterface) override;

    const AdapterInfo& adapter() const { return adapter_; }

private:
    // Whether a device of this type exists on this computer.
    bool DeviceTypeAvailable(D3DDEVTYPE type) const;

    AdapterInfo adapter_;
};

class VertexBuffer final : public RefCounted<IDirect3DVertexBuffer8> {
public:
    // Makes the GL buffer and the program's copy, zero-filled, for arguments the device has
    // validated; the device's context must be current.
    static HRESULT Allocate(Device* device, UINT length, D3DPOOL pool, VertexBuffer** out);
    ~VertexBuffer() override;

    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;

    Device* device() const { return device_; }
    UINT length() const { return length_; }
    bool locked() const { return lockCount_ > 0; }
    GLuint buffer() const { return buffer_; }
    const BYTE* data() const { return data_.get(); }

    // Software vertex processing: the distinct vertices of a draw range, kept until the
    // contents change. Null when out of range.
    const swvp::DistinctVertices::Range* DistinctRange(UINT first, UINT count);
    // Hardware vertex processing: a draw range as indexed GL buffers of its distinct vertices,
    // kept until the contents change. Null where the range is to be drawn as it lies: out of
    // range, GL refused, or the buffer is rewritten after drawing (a dynamic buffer, whose
    // ranges would be remade every frame).
    const IndexedRange* IndexedRangeOf(UINT first, UINT count);

private:
    VertexBuffer(Device* device, UINT length, D3DPOOL pool, std::unique_ptr<BYTE[]> data,
                 GLuint buffer);

    Device* device_;
    UINT length_;
    D3DPOOL pool_;
    std::unique_ptr<BYTE[]> data_;
    GLuint buffer_;
    int lockCount_ = 0;
    UINT dirtyBegin_ = 0, dirtyEnd_ = 0;
    swvp::DistinctVertices distinct_;
    StaticRanges indexed_;
    bool drawnFrom_ = false, rewrittenAfterDraw_ = false;
};

class Texture final : public RefCounted<IDirect3DTexture8> {
public:
    // Makes the GL texture with its `levels` levels for arguments the device has validated; the
    // device's context must be current.
    static HRESULT Allocate(Device* device, UINT width, UINT height, UINT levels, D3DFORMAT format,
                            D3DPOOL pool, Texture** out);
    ~Texture() override;

    DWORD GetLevelCount() override { return levels_; }
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;

    Device* device() const { return device_; }
    GLuint texture() const { return texture_; }
    // The filters last set on the GL texture, so a draw only changes what differs.
    GLint appliedMin = -1, appliedMag = -1;

private:
    Texture(Device* device, UINT width, UINT height, UINT levels, D3DFORMAT format, D3DPOOL pool,
            GLuint texture, std::uint64_t bytes);
    UINT LevelWidth(UINT level) const { return std::max<UINT>(1, width_ >> level); }
    UINT LevelHeight(UINT level) const { return std::max<UINT>(1, height_ >> level); }

    Device* device_;
    UINT width_, height_, levels_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    GLuint texture_;
    std::uint64_t bytes_;
    struct LevelData {
        std::unique_ptr<BYTE[]> pixels; // the level as the program sees it while locked
        bool locked = false;
        RECT rect{}; // the part locked, uploaded on unlock
    };
    std::vector<LevelData> levelData_;
};

// A system-memory image (CreateImageSurface), the destination of GetFrontBuffer.
class Surface final : public RefCounted<IDirect3DSurface8> {
public:
    Surface(Device* device, UINT width, UINT height, D3DFORMAT format,
            std::unique_ptr<BYTE[]> pixels);
    ~Surface() override;

    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;

    Device* device() const { return device_; }
    UINT width() const { return width_; }
    UINT height() const { return height_; }
    D3DFORMAT format() const { return format_; }
    bool locked() const { return locked_; }
    BYTE* pixels() { return pixels_.get(); }

private:
    Device* device_;
    UINT width_, height_;
    D3DFORMAT format_;
    std::unique_ptr<BYTE[]> pixels_;
    bool locked_ = false;
};

} // namespace d3d8rt
