// LoadResults and SaveResults: the files, the lock between copies of the program, the timed
// retries and the Retry/Ignore dialog around the byte work of ResultsFile.cpp.
//
// Every access holds a flock() on the folder of the file it reads or replaces, a symbolic link
// followed to its target (see FolderLock), so that copies working through two links to one file
// wait for each other. While another copy holds it (a save on a slow disk, say) the wait goes on
// past the timed retries, with the Retry/Ignore dialog closing by itself once the file is free.
// SaveResults never writes Results.bin in place: FileReplacement writes a hidden temporary file
// beside it, checks every write, syncs it and renames it over Results.bin, so a full disk, a
// crash or a kill at any moment leaves the old file or the new one, whole. A Results.bin that
// this copy has not read whole is kept under another name before it is replaced, so that no
// save drops what the reader could not take; and a Results.bin it could not read at all is not
// replaced.
#include "platform/Clock.h"
#include "platform/FileLock.h"
#include "platform/FileReplacement.h"
#include "platform/RetryDialog.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t AttemptSeriesMs = 2000;
constexpr std::uint32_t AttemptPauseMs = 100;

// What one attempt at a file found.
enum class TAttempt {
    Done,
    Busy,   // another copy of the program holds the file
    Failed, // anything else
};

// Repeats attempt every 100 ms until it is done or a series of 2000 ms is over; then asks
// whether to try another series. While another copy holds the file, the question keeps
// attempting and goes away by itself once an attempt is done. True when an attempt was done.
template <typename Attempt>
bool AttemptWithRetry(const std::string& fileName, const std::string& failureText,
                      Attempt attempt) {
    for (;;) {
        const std::uint32_t start = GetTickCount();
        TAttempt last = TAttempt::Failed;
        for (;;) {
            last = attempt();
            if (last == TAttempt::Done)
                return true;
            if (GetTickCount() - start > AttemptSeriesMs)
                break;
            Sleep(AttemptPauseMs);
        }
        if (last != TAttempt::Busy) {
            if (!AskRetry(failureText))
                return false;
            continue;
        }
        switch (
            AskRetryWhileBusy(failureText, fileName, [&] { return attempt() == TAttempt::Done; })) {
        case TRetryAnswer::Succeeded:
            return true;
        case TRetryAnswer::Ignore:
            return false;
        case TRetryAnswer::Retry:
            break;
        }
    }
}

std::string FolderOf(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

// The folder whose lock guards a file: that of the file a save replaces, so that copies
// reaching one file through links in two folders wait for each other.
std::string LockFolderOf(const std::string& fileName) {
    return FolderOf(FileReplacement::ReplacedFile(fileName));
}

TAttempt AttemptOf(TLockAttempt lock) {
    switch (lock) {
    case TLockAttempt::Locked:
        return TAttempt::Done;
    case TLockAttempt::Busy:
        return TAttempt::Busy;
    case TLockAttempt::Unusable:
        break;
    }
    return TAttempt::Failed;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = pread(fd, out, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

// Reads an opened results file piece by piece and merges it; a file that cannot be a results
// file of this version is left alone before more of it is read.
void MergeOpenedFile(int fd, TMergeReport& report) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        report.Outcome = TMergeOutcome::Ignored;
        report.IgnoredBecause = TIgnoredBecause::NotAFile;
        return;
    }
    const TResultsFileReader read = [fd](std::size_t offset, std::size_t size, std::uint8_t* out) {
        return ReadAt(fd, out, size, static_cast<off_t>(offset));
    };
    MergeResultsFile(static_cast<std::size_t>(info.st_size), read, LatestPlausibleTimestamp(),
                     Computers, ComputerDevices, ComputerResults, &report);
}

// The clock seeds the tails, with its nanoseconds, so two saves in one millisecond differ.
std::uint32_t TailSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::seed_seq seeds{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                        GetTickCount()};
    std::uint32_t seed = 0;
    seeds.generate(&seed, &seed + 1);
    return seed;
}

// A file as it stood when it was read or written: another content under the same name has
// another inode, size or time of change.
struct FileIdentity {
    dev_t Device;
    ino_t Inode;
    off_t Size;
    std::int64_t ChangedNs;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size,
            std::int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec};
}

// What this copy found in the files it read or wrote lately: whether every byte is in the store
// (read whole by LoadResults, or written by SaveResults), and otherwise what its reader left.
// Only a Results.bin held whole is replaced without keeping it.
struct FileRead {
    FileIdentity Identity;
    std::shared_ptr<const TMergeReport> NotWhole; // null when held whole
};

std::vector<FileRead>& FilesRead() {
    static std::vector<FileRead> files;
    return files;
}

const FileRead* FindRead(const struct stat& info) {
    const auto& files = FilesRead();
    const auto found = std::find_if(files.begin(), files.end(), [&](const FileRead& file) {
        return file.Identity == IdentityOf(info);
    });
    return found != files.end() ? &*found : nullptr;
}

void RememberRead(const struct stat& info, const TMergeReport* notWhole) {
    auto& files = FilesRead();
    const FileIdentity identity = IdentityOf(info);
    std::erase_if(files, [&](const FileRead& file) { return file.Identity == identity; });
    // Only the latest few can still be the file on the disk.
    if (files.size() >= 16)
        files.erase(files.begin());
    files.push_back(
        {identity, notWhole ? std::make_shared<const TMergeReport>(*notWhole) : nullptr});
}

// The name under which an unreadable Results.bin is kept: not ending in ".bin", so that it is
// never offered for merging.
std::string KeepName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string(ResultsFileName) + ".kept-" + stamp;
}

// One attempt to replace Results.bin by the store, holding the folder lock throughout.
TSaveOutcome TrySaveResults() {
    TSaveOutcome outcome;
    FolderLock lock;
    const TLockAttempt locked = lock.Attempt(LockFolderOf(ResultsFileName));
    if (locked != TLockAttempt::Locked) {
        outcome.Locked = locked == TLockAttempt::Busy;
        if (!outcome.Locked)
            outcome.File = {TFileStep::Create, errno};
        return outcome;
    }
    if (!ResultsFileSize(Computers, ComputerDevices, ComputerResults)) {
        outcome.TooLarge = true;
        return outcome;
    }
    FileReplacement::RemoveStaleTemporaryFiles(ResultsFileName);

    // A file that is not wholly in the store is kept aside; one too small to hold a computer
    // has nothing to lose.
    struct stat old {};
    const bool present = stat(ResultsFileName, &old) == 0 && S_ISREG(old.st_mode) &&
                         static_cast<std::size_t>(old.st_size) >= SmallestResultsFileWithAComputer;
    const FileRead* read = present ? FindRead(old) : nullptr;
    const bool keep = present && (read == nullptr || read->NotWhole != nullptr);

    FileReplacement file;
    const bool written = file.Begin(ResultsFileName) &&
                         WriteResultsFile(Computers, ComputerDevices, ComputerResults, TailSeed(),
                                          [&file](const std::uint8_t* bytes, std::size_t size) {
                                              return file.Write(bytes, size);
                                          }) &&
                         file.Commit(keep ? KeepName() : std::string());
    outcome.File = file.Error();
    if (!written)
        return outcome;
    outcome.Saved = true;
    outcome.KeptAs = file.KeptAs();
    if (!outcome.KeptAs.empty() && read != nullptr)
        outcome.KeptRead = read->NotWhole;
    struct stat now {};
    if (stat(ResultsFileName, &now) == 0)
        RememberRead(now, nullptr);
    return outcome;
}

} // namespace

void LoadResults(const std::string& fileName, TMergeReport* report) {
    TMergeReport unused;
    TMergeReport& r = report != nullptr ? *report : unused;
    r = TMergeReport{};
    bool missing = false;
    bool busy = false;
    int openError = 0;
    FolderLock lock;
    Descriptor file;
    const bool opened =
        AttemptWithRetry(fileName, "Файл " + fileName + " не доступен для чтения.", [&] {
            busy = false;
            struct stat info {};
            if (stat(fileName.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
                missing = true;
                return TAttempt::Done;
            }
            const TLockAttempt locked = lock.Attempt(LockFolderOf(fileName));
            if (locked != TLockAttempt::Locked) {
                busy = locked == TLockAttempt::Busy;
                openError = busy ? 0 : errno;
                return AttemptOf(locked);
            }
            // Non-blocking, so that a FIFO of that name cannot hang the program.
            const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) {
                openError = errno;
                lock.Unlock();
                return TAttempt::Failed;
            }
            file.Reset(fd);
            return TAttempt::Done;
        });
    if (!opened || missing) {
        r.Outcome = missing ? TMergeOutcome::Missing : TMergeOutcome::NotOpened;
        r.HeldByAnotherCopy = !missing && busy;
        r.OpenErrno = !missing && !busy ? openError : 0;
        return;
    }
    MergeOpenedFile(file.Get(), r);
    struct stat info {};
    if (fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode))
        RememberRead(info, r.TookEverything() ? nullptr : &r);
}

TSaveOutcome SaveResults() {
    TSaveOutcome outcome;
    AttemptWithRetry(ResultsFileName, "Файл Results.bin не доступен для записи.", [&outcome] {
        outcome = TrySaveResults();
        return outcome.Saved ? TAttempt::Done : outcome.Locked ? TAttempt::Busy : TAttempt::Failed;
    });
    ResultsUnsaved = !outcome.Saved;
    return outcome;
}

TSaveOutcome MergeAndSaveResults() {
    TSaveOutcome outcome;
    ResultsFileLock lock;
    // A copy that gave up waiting for another one does not try the file again: a save now
    // would replace what the other copy is writing unread, or at best keep it aside as if it
    // were damaged. The results stay in memory for the next save.
    if (lock.HeldByAnotherCopy()) {
        outcome.Locked = true;
        ResultsUnsaved = true;
        return outcome;
    }
    TMergeReport read;
    LoadResults(ResultsFileName, &read);
    if (read.Outcome != TMergeOutcome::NotOpened)
        return SaveResults();
    // Nor is a file replaced that this copy could not read.
    outcome.Locked = read.HeldByAnotherCopy;
    outcome.UnreadErrno = read.HeldByAnotherCopy ? 0 : read.OpenErrno;
    ResultsUnsaved = true;
    return outcome;
}

// Given up, the lock leaves the loads and saves inside it to take the folder's lock each for
// itself, with their own retries and questions: the results are never dropped unasked, and
// MergeAndSaveResults replaces no file it could not read.
ResultsFileLock::ResultsFileLock() : lock_(std::make_unique<FolderLock>()) {
    const bool held =
        AttemptWithRetry(ResultsFileName, "Файл Results.bin не доступен для чтения.", [this] {
            const TLockAttempt attempt = lock_->Attempt(LockFolderOf(ResultsFileName));
            busy_ = attempt == TLockAttempt::Busy;
            return AttemptOf(attempt);
        });
    busy_ = !held && busy_;
}

ResultsFileLock::~ResultsFileLock() = default;

bool ResultsFileLock::Held() const {
    return lock_->Held();
}
