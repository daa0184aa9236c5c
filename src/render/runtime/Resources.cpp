#include "render/runtime/Device.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace d3d8rt {

// ---- Vertex buffer ------------------------------------------------------------------------

VertexBuffer::VertexBuffer(Device* device, UINT length, D3DPOOL pool, std::unique_ptr<BYTE[]> data,
                           GLuint buffer)
    : device_(device), length_(length), pool_(pool), data_(std::move(data)), buffer_(buffer) {
    device_->AddRef(); // a resource keeps its device, as in Direct3D
    device_->Allocated(std::int64_t(length_));
    distinct_.Reset(reinterpret_cast<const swvp::SourceVertex*>(data_.get()),
                    length_ / sizeof(swvp::SourceVertex));
}

HRESULT VertexBuffer::Allocate(Device* device, UINT length, D3DPOOL pool, VertexBuffer** out) {
    *out = nullptr;
    QOpenGLExtraFunctions* gl = device->gl();
    std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[length]);
    if (!data)
        return E_OUTOFMEMORY;
    std::memset(data.get(), 0, length);
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    GLuint buffer = 0;
    gl->glGenBuffers(1, &buffer);
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffer);
    gl->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(length), data.get(), GL_STATIC_DRAW);
    if (gl->glGetError() != GL_NO_ERROR) {
        gl->glDeleteBuffers(1, &buffer);
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *out = new VertexBuffer(device, length, pool, std::move(data), buffer);
    return D3D_OK;
}

VertexBuffer::~VertexBuffer() {
    device_->Forget(this);
    if (device_->MakeCurrent()) {
        indexed_.Clear(device_->gl(), [this](GLuint b) { device_->ForgetBuffer(b); });
        device_->gl()->glDeleteBuffers(1, &buffer_);
    }
    device_->Allocated(-std::int64_t(length_));
    device_->Release();
}

HRESULT VertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, BYTE** ppbData, DWORD Flags) {
    (void)Flags;
    if (ppbData == nullptr)
        return D3DERR_INVALIDCALL;
    *ppbData = nullptr;
    if (OffsetToLock >= length_)
        return D3DERR_INVALIDCALL;
    const UINT size = SizeToLock == 0 ? length_ - OffsetToLock : SizeToLock;
    if (size > length_ - OffsetToLock)
        return D3DERR_INVALIDCALL;
    if (lockCount_ == 0) {
        dirtyBegin_ = OffsetToLock;
        dirtyEnd_ = OffsetToLock + size;
    } else {
        dirtyBegin_ = std::min(dirtyBegin_, OffsetToLock);
        dirtyEnd_ = std::max(dirtyEnd_, OffsetToLock + size);
    }
    ++lockCount_;
    *ppbData = data_.get() + OffsetToLock;
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock() {
    if (lockCount_ == 0)
        return D3DERR_INVALIDCALL;
    if (--lockCount_ > 0)
        return D3D_OK;
    if (!device_->MakeCurrent())
        return D3DERR_INVALIDCALL;
    device_->BindArrayBufferForUpload(buffer_);
    device_->gl()->glBufferSubData(GL_ARRAY_BUFFER, GLintptr(dirtyBegin_),
                                   GLsizeiptr(dirtyEnd_ - dirtyBegin_), data_.get() + dirtyBegin_);
    distinct_.Reset(reinterpret_cast<const swvp::SourceVertex*>(data_.get()),
                    length_ / sizeof(swvp::SourceVertex));
    indexed_.Clear(device_->gl(), [this](GLuint b) { device_->ForgetBuffer(b); });
    rewrittenAfterDraw_ = rewrittenAfterDraw_ || drawnFrom_;
    return D3D_OK;
}

const swvp::DistinctVertices::Range* VertexBuffer::DistinctRange(UINT first, UINT count) {
    drawnFrom_ = true;
    return distinct_.Find(first, count);
}

const IndexedRange* VertexBuffer::IndexedRangeOf(UINT first, UINT count) {
    drawnFrom_ = true;
    if (rewrittenAfterDraw_)
        return nullptr;
    const std::size_t known = indexed_.size();
    const IndexedRange* range = indexed_.Find(device_->gl(), distinct_, first, count);
    if (indexed_.size() != known)
        device_->ForgetBuffer(0); // the new range's buffers are bound now
    return range;
}

// ---- Texture ------------------------------------------------------------------------------

Texture::Texture(Device* device, UINT width, UINT height, UINT levels, D3DFORMAT format,
                 D3DPOOL pool, GLuint texture, std::uint64_t bytes)
    : device_(device), width_(width), height_(height), levels_(levels), format_(format),
      pool_(pool), texture_(texture), bytes_(bytes), levelData_(levels) {
    device_->AddRef();
    device_->Allocated(std::int64_t(bytes_));
}

HRESULT Texture::Allocate(Device* device, UINT width, UINT height, UINT levels, D3DFORMAT format,
                          D3DPOOL pool, Texture** out) {
    *out = nullptr;
    QOpenGLExtraFunctions* gl = device->gl();
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    GLuint texture = 0;
    gl->glGenTextures(1, &texture);
    device->BindTextureForUpload(texture);
    std::uint64_t bytes = 0;
    const GLint internal = format == D3DFMT_A8R8G8B8 ? GL_RGBA8 : GL_RGB8;
    for (UINT level = 0; level < levels; ++level) {
        const UINT w = std::max<UINT>(1, width >> level), h = std::max<UINT>(1, height >> level);
        gl->glTexImage2D(GL_TEXTURE_2D, GLint(level), internal, GLsizei(w), GLsizei(h), 0, GL_BGRA,
                         GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
        bytes += std::uint64_t(w) * h * 4;
    }
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(levels - 1));
    if (gl->glGetError() != GL_NO_ERROR) {
        device->ForgetTexture(texture);
        gl->glDeleteTextures(1, &texture);
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *out = new Texture(device, width, height, levels, format, pool, texture, bytes);
    return D3D_OK;
}

Texture::~Texture() {
    device_->Forget(this);
    if (device_->MakeCurrent())
        device_->gl()->glDeleteTextures(1, &texture_);
    device_->Allocated(-std::int64_t(bytes_));
    device_->Release();
}

HRESULT Texture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    (void)Flags;
    if (pLockedRect == nullptr)
        return D3DERR_INVALIDCALL;
    pLockedRect->pBits = nullptr;
    pLockedRect->Pitch = 0;
    if (Level >= levels_ || levelData_[Level].locked)
        return D3DERR_INVALIDCALL;
    const UINT w = LevelWidth(Level), h = LevelHeight(Level);
    if (pRect != nullptr &&
        (pRect->left < 0 || pRect->top < 0 || pRect->left >= pRect->right ||
         pRect->top >= pRect->bottom || UINT(pRect->right) > w || UINT(pRect->bottom) > h))
        return D3DERR_INVALIDCALL;
    LevelData& level = levelData_[Level];
    if (!level.pixels) {
        const std::size_t size = std::size_t(w) * h * 4;
        level.pixels.reset(new (std::nothrow) BYTE[size]);
        if (!level.pixels)
            return E_OUTOFMEMORY;
        std::memset(level.pixels.get(), 0, size);
    }
    level.locked = true;
    level.rect = pRect != nullptr ? *pRect : RECT{0, 0, LONG(w), LONG(h)};
    const std::size_t pitch = std::size_t(w) * 4;
    std::size_t offset = 0;
    if (pRect != nullptr)
        offset = std::size_t(pRect->top) * pitch + std::size_t(pRect->left) * 4;
    pLockedRect->Pitch = INT(pitch);
    pLockedRect->pBits = level.pixels.get() + offset;
    return D3D_OK;
}

HRESULT Texture::UnlockRect(UINT Level) {
    if (Level >= levels_ || !levelData_[Level].locked)
        return D3DERR_INVALIDCALL;
    LevelData& level = levelData_[Level];
    level.locked = false;
    if (!device_->MakeCurrent())
        return D3DERR_INVALIDCALL;
    device_->BindTextureForUpload(texture_);
    // Only the locked part: a default-pool level has no copy of the rest, which GL keeps.
    // Memory row 0 is v = 0, which is GL's first row too: no flip.
    const RECT& r = level.rect;
    const std::size_t offset = (std::size_t(r.top) * LevelWidth(Level) + std::size_t(r.left)) * 4;
    QOpenGLExtraFunctions* gl = device_->gl();
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(LevelWidth(Level)));
    gl->glTexSubImage2D(GL_TEXTURE_2D, GLint(Level), r.left, r.top, r.right - r.left,
                        r.bottom - r.top, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                        level.pixels.get() + offset);
    gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    // Managed and system-memory textures keep their copy, as Direct3D does; a default-pool
    // texture's lives in GL only.
    if (pool_ == D3DPOOL_DEFAULT)
        level.pixels.reset();
    return D3D_OK;
}

// ---- Image surface ------------------------------------------------------------------------

Surface::Surface(Device* device, UINT width, UINT height, D3DFORMAT format,
                 std::unique_ptr<BYTE[]> pixels)
    : device_(device), width_(width), height_(height), format_(format), pixels_(std::move(pixels)) {
    device_->AddRef();
}

Surface::~Surface() {
    device_->Release();
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* pDesc) {
    if (pDesc == nullptr)
        return D3DERR_INVALIDCALL;
    std::memset(pDesc, 0, sizeof *pDesc);
    pDesc->Format = format_;
    pDesc->Type = D3DRTYPE_SURFACE;
    pDesc->Pool = D3DPOOL_SYSTEMMEM;
    pDesc->Size = width_ * height_ * 4;
    pDesc->MultiSampleType = D3DMULTISAMPLE_NONE;
    pDesc->Width = width_;
    pDesc->Height = height_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    (void)Flags;
    if (pLockedRect == nullptr)
        return D3DERR_INVALIDCALL;
    pLockedRect->pBits = nullptr;
    pLockedRect->Pitch = 0;
    if (locked_ ||
        (pRect != nullptr && (pRect->left < 0 || pRect->top < 0 || pRect->left >= pRect->right ||
                              pRect->top >= pRect->bottom || UINT(pRect->right) > width_ ||
                              UINT(pRect->bottom) > height_)))
        return D3DERR_INVALIDCALL;
    const std::size_t pitch = std::size_t(width_) * 4;
    std::size_t offset = 0;
    if (pRect != nullptr)
        offset = std::size_t(pRect->top) * pitch + std::size_t(pRect->left) * 4;
    locked_ = true;
    pLockedRect->Pitch = INT(pitch);
    pLockedRect->pBits = pixels_.get() + offset;
    return D3D_OK;
}

HRESULT Surface::UnlockRect() {
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

} // namespace d3d8rt
