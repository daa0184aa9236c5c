#include "platform/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct HeldFolder {
    FolderLock::Key Key;
    int Descriptor;
    int Count;
};

// The folders this process holds; a handful at most.
std::vector<HeldFolder>& HeldFolders() {
    static std::vector<HeldFolder> held;
    return held;
}

HeldFolder* FindHeld(const FolderLock::Key& key) {
    for (auto& folder : HeldFolders())
        if (folder.Key == key)
            return &folder;
    return nullptr;
}

} // namespace

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        key_ = std::exchange(other.key_, {});
    }
    return *this;
}

TLockAttempt FolderLock::Attempt(const std::string& folder) {
    Unlock();
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return TLockAttempt::Unusable;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        close(fd);
        return TLockAttempt::Unusable;
    }
    const Key key{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    if (HeldFolder* held = FindHeld(key)) {
        // flock() would refuse a second open of the folder even within this process.
        close(fd);
        ++held->Count;
        key_ = key;
        return TLockAttempt::Locked;
    }
    int result;
    do
        result = flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? TLockAttempt::Busy : TLockAttempt::Unusable;
    }
    HeldFolders().push_back({key, fd, 1});
    key_ = key;
    return TLockAttempt::Locked;
}

void FolderLock::Unlock() {
    if (!Held())
        return;
    auto& held = HeldFolders();
    for (auto it = held.begin(); it != held.end(); ++it) {
        if (it->Key == key_) {
            if (--it->Count == 0) {
                close(it->Descriptor); // releases the flock
                held.erase(it);
            }
            break;
        }
    }
    key_ = {};
}

int FolderLock::FolderDescriptor() const {
    if (!Held())
        return -1;
    const HeldFolder* held = FindHeld(key_);
    return held ? held->Descriptor : -1;
}
