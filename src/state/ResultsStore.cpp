// LoadResults and SaveResults: the files, the lock between copies of the program, the timed
// retries and the Retry/Ignore dialog around the byte work of ResultsFile.cpp.
//
// Every access holds a flock() on the file's folder (see FolderLock). SaveResults never writes
// Results.bin in place: QSaveFile writes a temporary file in the same folder, syncs it and
// renames it over Results.bin, so a crash at any moment leaves the old file or the new one,
// whole; the folder is synced after the rename.
#include "platform/Clock.h"
#include "platform/FileLock.h"
#include "platform/RetryDialog.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <QSaveFile>
#include <QString>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* ResultsFileName = "Results.bin";
// Temporary files of a save are named this plus six characters; they do not end in ".bin",
// so the merge offer never lists them.
constexpr std::string_view SaveFilePrefix = "Results.bin.";
constexpr std::string_view OldTempPrefix = ".Results.bin.tmp";
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
    MergeResultsFile(content, Computers, ComputerDevices, ComputerResults, &report);
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

// Whether a name is that of a temporary file a killed save may have left: QSaveFile's
// "Results.bin." and six characters, or the ".Results.bin.tmp" and six of earlier saves.
bool IsStaleTempName(std::string_view name) {
    for (const std::string_view prefix : {SaveFilePrefix, OldTempPrefix})
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix))
            return true;
    return false;
}

// Temporary files of saves that were killed before their rename. Only called under the
// folder lock, when no other copy can be writing one.
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
        if (IsStaleTempName(entry->d_name))
            stale.emplace_back(entry->d_name);
    }
    for (const auto& name : stale)
        unlinkat(folderFd, name.c_str(), 0);
    closedir(folder);
}

// One attempt to replace Results.bin by content, holding the folder lock throughout. QSaveFile
// writes a temporary file beside it (unnamed where the file system allows), syncs it and
// renames it over Results.bin; on any failure Results.bin is as it was.
bool TryReplaceResultsFile(const std::vector<std::uint8_t>& content) {
    FolderLock lock;
    if (!lock.TryLock("."))
        return false;
    const int folderFd = lock.FolderDescriptor();

    // Only a regular file is replaced, and a write-protected one stays protected, although
    // the rename could replace it.
    struct stat old {};
    const bool exists = fstatat(folderFd, ResultsFileName, &old, 0) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists && (!S_ISREG(old.st_mode) || faccessat(folderFd, ResultsFileName, W_OK, 0) != 0))
        return false;

    RemoveStaleTempFiles(folderFd);

    // It keeps the permissions of the file it replaces.
    QSaveFile file(QString::fromLatin1(ResultsFileName));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto size = static_cast<qint64>(content.size());
    if (file.write(reinterpret_cast<const char*>(content.data()), size) != size || !file.commit())
        return false;
    // The rename itself is durable only once the folder is synced.
    fsync(folderFd);
    return true;
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
}

void SaveResults() {
    // A store too large for the file's size field cannot be written; the attempts fail and
    // the user is asked like for any other failure.
    const auto content = EncodeResultsFile(Computers, ComputerDevices, ComputerResults, TailSeed());
    AttemptWithRetry("Файл Results.bin не доступен для записи.",
                     [&] { return content && TryReplaceResultsFile(*content); });
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
