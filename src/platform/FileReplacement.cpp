#include "platform/FileReplacement.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t RandomLength = 6;
// Writeback of what is written is started every so many bytes, so that the sync at the end
// does not wait for the whole file.
constexpr std::size_t WritebackStep = 8u << 20;

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempPrefix(const std::string& fileName) {
    return "." + fileName + ".tmp";
}

std::string RandomSuffix() {
    static constexpr char Letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[RandomLength] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Never short for six bytes; a clock value still makes a usable name.
        const auto now =
            static_cast<unsigned long>(std::clock()) ^ static_cast<unsigned long>(getpid());
        std::memcpy(bytes, &now, std::min(sizeof now, sizeof bytes));
    }
    std::string suffix;
    for (unsigned char byte : bytes)
        suffix += Letters[byte % (sizeof Letters - 1)];
    return suffix;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = write(fd, bytes, size);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (wrote == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Gives the file open as fd an old file's owner where this process may give files away (root
// saving another user's file), else at least its group where the owner may choose it, and then
// its permissions, which a change of owner can clear.
void TakeOwnerAndMode(int fd, uid_t owner, gid_t group, unsigned mode) {
    if (fchown(fd, owner, group) != 0)
        (void)!fchown(fd, static_cast<uid_t>(-1), group);
    fchmod(fd, mode);
}

// A copy of from as the new file to, for file systems without hard links. Synced; removed
// again when anything fails.
bool CopyFile(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        const int saved = errno;
        close(in);
        errno = saved;
        return false;
    }
    struct stat old {};
    if (fstat(in, &old) == 0)
        TakeOwnerAndMode(out, old.st_uid, old.st_gid, old.st_mode & 07777);
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) {
            ok = false;
            break;
        }
    }
    ok = ok && fsync(out) == 0;
    const int saved = errno;
    ok = close(out) == 0 && ok;
    close(in);
    if (!ok) {
        unlink(to.c_str());
        errno = saved != 0 ? saved : EIO;
    }
    return ok;
}

// Keeps the file at path also under a free name starting with base, in the same folder: a hard
// link where the file system has them, a copy otherwise. The name taken goes to *kept.
bool KeepFile(const std::string& path, const std::string& base, std::string* kept) {
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (link(path.c_str(), name.c_str()) == 0) {
            *kept = name;
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EPERM && errno != EXDEV && errno != EOPNOTSUPP && errno != EMLINK &&
            errno != ENOSYS)
            return false;
        if (CopyFile(path, name)) {
            *kept = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

} // namespace

std::string SystemErrorText(int errorNumber) {
    char buffer[256];
    return strerror_r(errorNumber, buffer, sizeof buffer);
}

bool FileReplacement::IsTemporaryName(const std::string& name, const std::string& fileName) {
    const std::string prefix = TempPrefix(fileName);
    return name.size() == prefix.size() + RandomLength && name.starts_with(prefix);
}

std::string FileReplacement::ReplacedFile(const std::string& path) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

void FileReplacement::RemoveStaleTemporaryFiles(const std::string& path) {
    const std::string target = ReplacedFile(path);
    DIR* folder = opendir(FolderOf(target).c_str());
    if (folder == nullptr)
        return;
    const std::string name = NameOf(target);
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(folder)) {
        if (IsTemporaryName(entry->d_name, name))
            stale.emplace_back(entry->d_name);
    }
    for (const std::string& entry : stale)
        unlinkat(dirfd(folder), entry.c_str(), 0);
    closedir(folder);
}

bool FileReplacement::Fail(TFileStep step, int errorNumber) {
    if (!error_.Failed())
        error_ = {step, errorNumber};
    Discard();
    return false;
}

bool FileReplacement::Begin(const std::string& path) {
    Discard();
    error_ = {};
    keptAs_.clear();
    written_ = flushedUpTo_ = 0;

    // A symbolic link stays as it is: its target is the file replaced.
    target_ = path;
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr)
            return Fail(errno == ENOENT ? TFileStep::LinkToNothing : TFileStep::NotAFile, errno);
        target_ = resolved;
    }

    struct stat old {};
    oldExists_ = stat(target_.c_str(), &old) == 0;
    if (!oldExists_ && errno != ENOENT)
        return Fail(TFileStep::NotAFile, errno);
    if (oldExists_ && !S_ISREG(old.st_mode))
        return Fail(TFileStep::NotAFile, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    // A write-protected file stays protected, although the rename could replace it.
    if (oldExists_ && access(target_.c_str(), W_OK) != 0)
        return Fail(TFileStep::WriteProtected, errno);
    oldMode_ = oldExists_ ? static_cast<unsigned>(old.st_mode & 07777) : 0;
    oldOwner_ = old.st_uid;
    oldGroup_ = old.st_gid;

    const std::string folder = FolderOf(target_);
    const std::string prefix = folder + "/" + TempPrefix(NameOf(target_));
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath_ = prefix + RandomSuffix();
        // A new file gets the permissions the user's umask gives any new file.
        fd_ = open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        const int saved = errno;
        tempPath_.clear();
        return Fail(TFileStep::Create, saved);
    }
    return true;
}

bool FileReplacement::Write(const void* data, std::size_t size) {
    if (fd_ < 0)
        return false;
    if (!WriteAll(fd_, data, size))
        return Fail(TFileStep::Write, errno);
    written_ += size;
    if (written_ - flushedUpTo_ >= WritebackStep) {
        sync_file_range(fd_, static_cast<off_t>(flushedUpTo_),
                        static_cast<off_t>(written_ - flushedUpTo_), SYNC_FILE_RANGE_WRITE);
        flushedUpTo_ = written_;
    }
    return true;
}

bool FileReplacement::Commit(const std::string& keepAs) {
    if (fd_ < 0)
        return false;
    if (oldExists_)
        TakeOwnerAndMode(fd_, oldOwner_, oldGroup_, oldMode_);
    if (fsync(fd_) != 0)
        return Fail(TFileStep::Sync, errno);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        fd_ = -1;
        return Fail(TFileStep::Sync, errno);
    }

    const std::string folder = FolderOf(target_);
    std::string kept;
    if (!keepAs.empty() && oldExists_) {
        const std::string base =
            keepAs.find('/') == std::string::npos ? folder + "/" + keepAs : keepAs;
        if (!KeepFile(target_, base, &kept))
            return Fail(TFileStep::Keep, errno);
    }
    if (rename(tempPath_.c_str(), target_.c_str()) != 0) {
        const int saved = errno;
        if (!kept.empty())
            unlink(kept.c_str());
        return Fail(TFileStep::Rename, saved);
    }
    tempPath_.clear();
    // The rename itself is durable only once the folder is synced.
    SyncFolder(folder);
    keptAs_ = NameOf(kept);
    return true;
}

void FileReplacement::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}
