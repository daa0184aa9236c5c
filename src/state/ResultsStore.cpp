// LoadResults and SaveResults: the files, the lock between copies of the program, the timed
// retries and the Retry/Ignore dialog around the byte work of ResultsFile.cpp.
//
// Every access holds a flock() on the file's folder (see FolderLock). SaveResults never writes
// Results.bin in place: FileReplacement writes a hidden temporary file beside it, checks every
// write, syncs it and renames it over Results.bin, so a full disk, a crash or a kill at any
// moment leaves the old file or the new one, whole. A Results.bin that this copy has not read
// whole is kept under another name before it is replaced, so that no save drops what the
// reader could not take.
#include "platform/Clock.h"
#include "platform/FileLock.h"
#include "platform/FileReplacement.h"
#include "platform/RetryDialog.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file smaller than this holds no computer, so nothing is lost when it is replaced.
constexpr std::size_t SmallestFileWithAComputer =
    ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 4 + 4;
constexpr std::uint32_t AttemptSeriesMs = 2000;
constexpr std::uint32_t AttemptPauseMs = 100;

// Repeats attempt every 100 ms until it succeeds or a series of 2000 ms is over; then asks
// whether to try another series. True when an attempt succeeded.
template <typename Attempt> bool AttemptWithRetry(const std::string& failureText, Attempt attempt) {
    for (;;) {
        const std::uint32_t start = GetTickCount();
        for (;;) {
            if (attempt())
                return true;
            if (GetTickCount() - start > AttemptSeriesMs)
                break;
            Sleep(AttemptPauseMs);
        }
        if (!AskRetry(failureText))
            return false;
    }
}

std::string FolderOf(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
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

// Reads an opened results file and merges it; a file that cannot be a results file of this
// version is left alone before the whole of it is read.
void MergeOpenedFile(int fd, TMergeReport& report) {
    const auto ignore = [&report](TIgnoredBecause because) {
        report.Outcome = TMergeOutcome::Ignored;
        report.IgnoredBecause = because;
    };
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return ignore(TIgnoredBecause::NotAFile);
    // A valid file states its size in an int32, so nothing larger needs reading.
    if (info.st_size < static_cast<off_t>(ResultsFirstBlockOffset + 4))
        return ignore(TIgnoredBecause::TooShort);
    if (info.st_size > std::numeric_limits<std::int32_t>::max())
        return ignore(TIgnoredBecause::SizeMismatch);
    const auto size = static_cast<std::size_t>(info.st_size);
    std::uint8_t version[2];
    std::int32_t trailingSize = 0;
    if (!ReadAt(fd, version, 2, ResultsVersionOffset) ||
        !ReadAt(fd, &trailingSize, 4, static_cast<off_t>(size - 4)))
        return ignore(TIgnoredBecause::ReadFailed);
    report.FileVersionMajor = version[0];
    report.FileVersionMinor = version[1];
    if (version[0] != VersionMajor || version[1] != VersionMinor)
        return ignore(TIgnoredBecause::OtherVersion);
    if (static_cast<std::size_t>(trailingSize) != size)
        return ignore(TIgnoredBecause::SizeMismatch);
    std::vector<std::uint8_t> content(size);
    if (!ReadAt(fd, content.data(), size, 0))
        return ignore(TIgnoredBecause::ReadFailed);
    MergeResultsFile(content, LatestPlausibleTimestamp(), Computers, ComputerDevices,
                     ComputerResults, &report);
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

// Temporary files of saves that were killed before their rename: only the hidden names that
// a save makes (".Results.bin.tmp" and six characters), never a user's file. Only called under
// the folder lock, when no other copy can be writing one.
void RemoveStaleTempFiles(int folderFd) {
    const int fd = dup(folderFd);
    if (fd < 0)
        return;
    DIR* folder = fdopendir(fd);
    if (folder == nullptr) {
        close(fd);
        return;
    }
    rewinddir(folder);
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(folder)) {
        if (FileReplacement::IsTemporaryName(entry->d_name, ResultsFileName))
            stale.emplace_back(entry->d_name);
    }
    for (const auto& name : stale)
        unlinkat(folderFd, name.c_str(), 0);
    closedir(folder);
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

// The files whose every byte is in the store: read whole by LoadResults, or written by
// SaveResults. Only such a Results.bin is replaced without keeping it.
std::vector<FileIdentity>& FilesHeldWhole() {
    static std::vector<FileIdentity> files;
    return files;
}

void RememberHeldWhole(const struct stat& info) {
    auto& files = FilesHeldWhole();
    const FileIdentity identity = IdentityOf(info);
    if (std::find(files.begin(), files.end(), identity) != files.end())
        return;
    // Only the latest few can still be the file on the disk.
    if (files.size() >= 16)
        files.erase(files.begin());
    files.push_back(identity);
}

bool IsHeldWhole(const struct stat& info) {
    const auto& files = FilesHeldWhole();
    return std::find(files.begin(), files.end(), IdentityOf(info)) != files.end();
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
    if (!lock.TryLock(".")) {
        outcome.Locked = true;
        return outcome;
    }
    if (!ResultsFileSize(Computers, ComputerDevices, ComputerResults)) {
        outcome.TooLarge = true;
        return outcome;
    }
    RemoveStaleTempFiles(lock.FolderDescriptor());

    // A file that is not wholly in the store is kept aside; one too small to hold a computer
    // has nothing to lose.
    struct stat old {};
    const bool keep = stat(ResultsFileName, &old) == 0 && S_ISREG(old.st_mode) &&
                      !IsHeldWhole(old) &&
                      static_cast<std::size_t>(old.st_size) >= SmallestFileWithAComputer;

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
    struct stat now {};
    if (stat(ResultsFileName, &now) == 0)
        RememberHeldWhole(now);
    return outcome;
}

} // namespace

void LoadResults(const std::string& fileName, TMergeReport* report) {
    TMergeReport unused;
    TMergeReport& r = report != nullptr ? *report : unused;
    r = TMergeReport{};
    const std::string folder = FolderOf(fileName);
    bool missing = false;
    FolderLock lock;
    Descriptor file;
    const bool opened = AttemptWithRetry("Файл " + fileName + " не доступен для чтения.", [&] {
        struct stat info {};
        if (stat(fileName.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            missing = true;
            return true;
        }
        if (!lock.TryLock(folder))
            return false;
        // Non-blocking, so that a FIFO of that name cannot hang the program.
        const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            lock.Unlock();
            return false;
        }
        file.Reset(fd);
        return true;
    });
    if (!opened || missing) {
        r.Outcome = missing ? TMergeOutcome::Missing : TMergeOutcome::NotOpened;
        return;
    }
    MergeOpenedFile(file.Get(), r);
    struct stat info {};
    if (r.TookEverything() && fstat(file.Get(), &info) == 0)
        RememberHeldWhole(info);
}

TSaveOutcome SaveResults() {
    TSaveOutcome outcome;
    AttemptWithRetry("Файл Results.bin не доступен для записи.", [&outcome] {
        outcome = TrySaveResults();
        return outcome.Saved;
    });
    ResultsUnsaved = !outcome.Saved;
    return outcome;
}

TSaveOutcome MergeAndSaveResults() {
    ResultsFileLock lock;
    LoadResults(ResultsFileName);
    return SaveResults();
}

// Given up, the lock leaves the loads and saves inside it to take the folder's lock each for
// itself, with their own retries and questions: the results are never dropped unasked.
ResultsFileLock::ResultsFileLock() : lock_(std::make_unique<FolderLock>()) {
    AttemptWithRetry("Файл Results.bin не доступен для чтения.",
                     [this] { return lock_->TryLock("."); });
}

ResultsFileLock::~ResultsFileLock() = default;

bool ResultsFileLock::Held() const {
    return lock_->Held();
}
