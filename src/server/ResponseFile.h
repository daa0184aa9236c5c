// A large answer kept in an unnamed temporary file rather than in memory: written once by the
// worker that answers, then sent piece by piece as the client takes it, so that a download holds
// one piece of memory whatever the size of the file and however slowly the client reads, and
// the worker and its database connection are free as soon as the file is written. The files
// alive at once hold at most MaxBytes of the disk; past that a new one is refused.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class TResponseFile {
public:
    static constexpr std::uint64_t MaxBytes = std::uint64_t{2} << 30;

    // A new, empty file in the temporary folder (TMPDIR, else /tmp); nothing when none can be
    // made.
    static std::shared_ptr<TResponseFile> Create();
    ~TResponseFile();
    TResponseFile(const TResponseFile&) = delete;
    TResponseFile& operator=(const TResponseFile&) = delete;

    // Appends the bytes; false when the disk refuses them or the files alive would pass
    // MaxBytes.
    bool Append(const void* bytes, std::size_t size);
    std::uint64_t Size() const { return size_; }
    // Reads size bytes at offset, from any thread; false when the disk fails.
    bool ReadAt(std::uint64_t offset, void* into, std::size_t size) const;

    // The bytes of every file alive.
    static std::uint64_t BytesAlive() { return alive_.load(); }

private:
    explicit TResponseFile(int descriptor) : descriptor_(descriptor) {}

    int descriptor_;
    std::uint64_t size_ = 0;
    static std::atomic<std::uint64_t> alive_;
};
