// The ordinary accidents that meet a save of Results.bin at the end of a series, set up for
// real in a folder: a full disk (a file-size limit, with SIGXFSZ ignored, so no mount is
// needed), the folder held by another copy, a read-only folder, a folder or a dangling link in
// Results.bin's place, a file of another version, and damaged files. Each case also has two
// files of the user's whose names begin like the results file, which must survive everything.
#pragma once

#include "state/StoreFixture.h"

#include <QByteArray>
#include <QProcess>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <pwd.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

enum class TAccident {
    DiskFull,
    FolderLocked,
    FolderReadOnly,
    ResultsIsAFolder,
    DanglingLink,
    OtherVersion,
    DamagedSize,
    DamagedBlock,
};

struct TAccidentCase {
    const char* Name;
    TAccident Accident;
};

inline const TAccidentCase AccidentCases[] = {
    {"disk full", TAccident::DiskFull},
    {"folder held by another copy", TAccident::FolderLocked},
    {"folder not writable", TAccident::FolderReadOnly},
    {"Results.bin is a folder", TAccident::ResultsIsAFolder},
    {"Results.bin is a dangling link", TAccident::DanglingLink},
    {"Results.bin of another version", TAccident::OtherVersion},
    {"size field damaged", TAccident::DamagedSize},
    {"a damaged block", TAccident::DamagedBlock},
};

// The name of a case as a test's name: letters and digits, the rest underscores.
inline std::string AccidentCaseName(const testing::TestParamInfo<TAccidentCase>& info) {
    std::string name = info.param.Name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// The file cannot be read whole, so it is kept under another name and a new one is written;
// in every other case the save fails and the folder stays as it was.
inline bool KeepsOldFileAside(TAccident accident) {
    return accident == TAccident::OtherVersion || accident == TAccident::DamagedSize ||
           accident == TAccident::DamagedBlock;
}

// The computers of the old Results.bin: two, so that a damaged second block leaves the first.
inline StoreImage EarlierStore() {
    StoreImage store;
    store.Add(MakeComputer("earlier one"), {"  chip", "  video"},
              {MakeResult(45000.5, 1024, 768, 32, 55)});
    store.Add(MakeComputer("earlier two"), {"  chip"}, {MakeResult(45001.5, 800, 600, 16, 40)});
    return store;
}

inline void PrepareAccident(TAccident accident, const std::filesystem::path& folder) {
    WriteBytes(folder / "Results.bin.backup", {'m', 'i', 'n', 'e'});
    WriteBytes(folder / "Results.bin.orig24", {'t', 'o', 'o'});
    std::vector<std::uint8_t> old = EarlierStore().Encode();
    switch (accident) {
    case TAccident::ResultsIsAFolder:
        std::filesystem::create_directory(folder / "Results.bin");
        WriteBytes(folder / "Results.bin" / "inside", {'x'});
        return;
    case TAccident::DanglingLink:
        std::filesystem::create_symlink("gone/Results.bin", folder / "Results.bin");
        return;
    case TAccident::OtherVersion:
        old[ResultsVersionOffset + 1] = 4;
        break;
    case TAccident::DamagedSize:
        old[old.size() - 2] ^= 0x01;
        break;
    case TAccident::DamagedBlock: {
        // The second block's device count runs past the end.
        const std::size_t second = ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 +
                                   2 * sizeof(TStringSlot) + 4 + sizeof(TResultRecord);
        old[second + sizeof(TComputerRecord) + 3] = 0x40;
        break;
    }
    default:
        break;
    }
    WriteBytes(folder / "Results.bin", old);
}

// Every entry of a folder: a regular file's bytes, "-> target" for a link, "/" for a folder.
using TFolderSnapshot = std::map<std::string, std::string>;

inline TFolderSnapshot SnapshotOf(const std::filesystem::path& folder) {
    TFolderSnapshot entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink())
            entries[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[name] = "/";
        else {
            const auto bytes = ReadBytes(entry.path());
            entries[name] = std::string(bytes.begin(), bytes.end());
        }
    }
    return entries;
}

// After the series: for a failed save the folder exactly as before; for a file kept aside, the
// old bytes under a new name that does not end in ".bin" and a new, whole Results.bin; in both
// every file of the user's as it was, and no temporary file left.
inline void ExpectFolderAfter(TAccident accident, const std::filesystem::path& folder,
                              const TFolderSnapshot& before) {
    const TFolderSnapshot after = SnapshotOf(folder);
    if (!KeepsOldFileAside(accident)) {
        EXPECT_EQ(after, before);
        return;
    }
    std::string kept;
    for (const auto& [name, content] : after)
        if (!before.contains(name)) {
            EXPECT_TRUE(kept.empty()) << "a second new file " << name;
            kept = name;
        }
    ASSERT_FALSE(kept.empty()) << "the old file was not kept";
    EXPECT_TRUE(kept.starts_with("Results.bin.kept-")) << kept;
    EXPECT_FALSE(kept.ends_with(".bin")) << kept;
    EXPECT_EQ(after.at(kept), before.at("Results.bin"));
    for (const auto& [name, content] : before) {
        if (name != "Results.bin") {
            EXPECT_EQ(after.at(name), content) << name;
        }
    }
    const auto bytes = ReadBytes(folder / "Results.bin");
    StoreImage written;
    TMergeReport report;
    MergeResultsFile(bytes, LatestPlausibleTimestamp(), written.Computers, written.Devices,
                     written.Results, &report);
    EXPECT_EQ(report.Outcome, TMergeOutcome::Merged);
    EXPECT_EQ(report.BytesLeftUnread, 0u);
}

// A process holding the folder's lock, as another copy does while it saves.
class FolderLockHolder {
public:
    explicit FolderLockHolder(const std::filesystem::path& folder) {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        child_ = fork();
        if (child_ == 0) {
            const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            const char held = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 1 : 0;
            (void)!write(ready[1], &held, 1);
            for (;;)
                pause();
        }
        char held = 0;
        held_ = child_ > 0 && read(ready[0], &held, 1) == 1 && held == 1;
        close(ready[0]);
        close(ready[1]);
    }
    ~FolderLockHolder() {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
    }
    FolderLockHolder(const FolderLockHolder&) = delete;
    FolderLockHolder& operator=(const FolderLockHolder&) = delete;
    bool Held() const { return held_; }

private:
    pid_t child_ = -1;
    bool held_ = false;
};

// The user a process drops to so that a folder of root's is read-only to it; null when the
// tests do not run as root (a folder without write permission is then enough).
inline const passwd* UnprivilegedUser() {
    return geteuid() == 0 ? getpwnam("nobody") : nullptr;
}

// Makes the folder read-only to the process that saves: as root, the folder stays root's with
// mode 0755 and its Results.bin becomes the unprivileged user's (as a user's own file in a
// folder they may not write); otherwise the folder loses its write permission.
inline void MakeFolderReadOnly(const std::filesystem::path& folder) {
    if (const passwd* user = UnprivilegedUser()) {
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
        lchown((folder / "Results.bin").c_str(), user->pw_uid, user->pw_gid);
    } else {
        std::filesystem::permissions(folder, std::filesystem::perms(0555));
    }
}

// Undoes MakeFolderReadOnly, so that the folder can be removed.
inline void MakeFolderWritable(const std::filesystem::path& folder) {
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
}

// A file-size limit of bytes for this process, with SIGXFSZ ignored so that a write beyond it
// fails with EFBIG as on a full disk; the hard limit is left, so the limit can be lifted.
inline rlimit LimitFileSize(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
    return previous;
}
