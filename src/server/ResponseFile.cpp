#include "server/ResponseFile.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

std::atomic<std::uint64_t> TResponseFile::alive_ = 0;

std::shared_ptr<TResponseFile> TResponseFile::Create() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error)
        return nullptr;
    // A file without a name from the start, so that nothing is left behind whatever happens to
    // the process; where the file system cannot make one, a named file removed at once.
    int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        std::string name = (folder / "stendograph-answer-XXXXXX").string();
        descriptor = mkostemp(name.data(), O_CLOEXEC);
        if (descriptor < 0)
            return nullptr;
        unlink(name.c_str());
    }
    return std::shared_ptr<TResponseFile>(new TResponseFile(descriptor));
}

TResponseFile::~TResponseFile() {
    alive_ -= size_;
    close(descriptor_);
}

bool TResponseFile::Append(const void* bytes, std::size_t size) {
    if (alive_.fetch_add(size) + size > MaxBytes) {
        alive_ -= size;
        return false;
    }
    const auto* from = static_cast<const char*>(bytes);
    std::size_t left = size;
    while (left > 0) {
        const ssize_t written = write(descriptor_, from, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            alive_ -= size;
            return false;
        }
        from += written;
        left -= static_cast<std::size_t>(written);
    }
    size_ += size;
    return true;
}

bool TResponseFile::ReadAt(std::uint64_t offset, void* into, std::size_t size) const {
    auto* to = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t got = pread(descriptor_, to, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}
