// An exclusive lock on a folder between processes: flock() on a descriptor of the folder
// itself, so the lock leaves no file behind and ends with the process however it ends. Within
// one process the lock is counted per folder, so nested holders of one folder never wait for
// each other (the program has one thread).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

// What one attempt to lock a folder found.
enum class TLockAttempt {
    Locked,   // the folder is now held by this process
    Busy,     // another process holds it
    Unusable, // the folder cannot be opened
};

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { Unlock(); }
    FolderLock(FolderLock&& other) noexcept : key_(std::exchange(other.key_, {})) {}
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // One attempt without waiting. Locked when the folder is now held by this process (by this
    // holder or, counted, by an outer one).
    TLockAttempt Attempt(const std::string& folder);
    bool TryLock(const std::string& folder) { return Attempt(folder) == TLockAttempt::Locked; }
    void Unlock();
    bool Held() const { return key_.Inode != 0 || key_.Device != 0; }
    // A descriptor of the held folder (for fsync after a rename), or -1.
    int FolderDescriptor() const;

    struct Key {
        std::uint64_t Device = 0;
        std::uint64_t Inode = 0;
        bool operator==(const Key&) const = default;
    };

private:
    Key key_;
};
