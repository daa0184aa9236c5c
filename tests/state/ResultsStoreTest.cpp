// LoadResults and SaveResults against real files: the timed retries and the Retry/Ignore
// dialog, the lock between copies of the program, and saves killed at random moments.
#include "StoreFixture.h"
#include "platform/Clock.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string ReadFailure = "Файл Results.bin не доступен для чтения.";
const std::string WriteFailure = "Файл Results.bin не доступен для записи.";

// The folder locked as another copy of the program would lock it.
class ForeignLock {
public:
    explicit ForeignLock(const std::filesystem::path& folder)
        : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~ForeignLock() { Release(); }
    void Release() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Whether another copy could take the folder's lock right now.
bool FolderFree(const std::filesystem::path& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

StoreImage OneComputer(const std::string& tag, int results) {
    StoreImage store;
    std::vector<TResultRecord> list;
    for (int i = 0; i < results; ++i)
        list.push_back(NthResult(i, 1000 + i, 10.0f + i));
    store.Add(MakeComputer(tag), {"  chip", "bridge " + tag, "  video"}, list);
    return store;
}

} // namespace

using ResultsStoreFiles = StoreTest;

// A missing file is nothing to wait for: even with the folder held by another copy, no
// retries and no question (every series of retries ends in one).
TEST_F(ResultsStoreFiles, MissingFileReturnsAtOnceWithoutMessage) {
    ForeignLock other(dir_.path());
    LoadResults("Results.bin");
    LoadResults("nowhere/Other.bin");
    EXPECT_TRUE(Computers.empty());
}

// The report of a load says why a file was left alone, down to the version it claims.
TEST_F(ResultsStoreFiles, LoadReportSaysWhyAFileWasLeft) {
    const auto good = OneComputer("disk", 2).Encode();
    auto otherVersion = good;
    otherVersion[ResultsVersionOffset + 1] = 4;
    auto extended = good;
    extended.push_back(0);
    std::filesystem::create_directory(dir_ / "Folder.bin");

    struct Case {
        const char* Name;
        std::string File;
        std::vector<std::uint8_t> Bytes;
        TMergeOutcome Outcome;
        TIgnoredBecause Because;
        std::size_t Computers;
    } const cases[] = {
        {"missing", "Nowhere.bin", {}, TMergeOutcome::Missing, TIgnoredBecause::Nothing, 0},
        {"a folder", "Folder.bin", {}, TMergeOutcome::Ignored, TIgnoredBecause::NotAFile, 0},
        {"empty", "Empty.bin", {}, TMergeOutcome::Ignored, TIgnoredBecause::TooShort, 0},
        {"version 1.4", "Old.bin", otherVersion, TMergeOutcome::Ignored,
         TIgnoredBecause::OtherVersion, 0},
        {"one byte too many", "Long.bin", extended, TMergeOutcome::Ignored,
         TIgnoredBecause::SizeMismatch, 0},
        {"whole", "Good.bin", good, TMergeOutcome::Merged, TIgnoredBecause::Nothing, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Clear();
        if (c.File != "Nowhere.bin" && c.File != "Folder.bin")
            WriteBytes(dir_ / c.File, c.Bytes);
        TMergeReport report;
        report.BlocksMerged = 99;
        LoadResults(c.File, &report);
        EXPECT_EQ(report.Outcome, c.Outcome);
        EXPECT_EQ(report.IgnoredBecause, c.Because);
        EXPECT_EQ(Computers.size(), c.Computers);
        EXPECT_EQ(report.BlocksMerged, static_cast<std::int32_t>(c.Computers));
        if (c.Because == TIgnoredBecause::OtherVersion) {
            EXPECT_EQ(report.FileVersionMajor, 1);
            EXPECT_EQ(report.FileVersionMinor, 4);
        }
    }
}

// A file the user chose to ignore is reported as not opened.
TEST_F(ResultsStoreFiles, LoadReportOfAnIgnoredFile) {
    WriteBytes(dir_ / "Results.bin", OneComputer("disk", 1).Encode());
    ForeignLock other(dir_.path());
    SetRetryAsker([](const std::string&) { return false; });
    TMergeReport report;
    LoadResults("Results.bin", &report);
    EXPECT_EQ(report.Outcome, TMergeOutcome::NotOpened);
    EXPECT_TRUE(Computers.empty());
}

// A locked file is retried for about two seconds, then the dialog asks; Ignore gives up and
// leaves store and file as they were.
TEST_F(ResultsStoreFiles, LockedFileIgnoredAfterRetries) {
    const StoreImage onDisk = OneComputer("disk", 2);
    WriteBytes(dir_ / "Results.bin", onDisk.Encode());
    const auto before = ReadBytes(dir_ / "Results.bin");
    const StoreImage inMemory = OneComputer("memory", 1);
    inMemory.ToGlobals();

    std::vector<std::string> asked;
    SetRetryAsker([&](const std::string& text) {
        asked.push_back(text);
        return false;
    });
    ForeignLock other(dir_.path());

    struct Case {
        const char* Name;
        std::function<void()> Call;
        std::string Text;
    } const cases[] = {
        {"load", [] { LoadResults("Results.bin"); }, ReadFailure},
        {"save", [] { SaveResults(); }, WriteFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        asked.clear();
        const std::uint32_t start = GetTickCount();
        c.Call();
        const std::uint32_t elapsed = GetTickCount() - start;
        EXPECT_GE(elapsed, 2000u);
        // One series, not one per attempt or without end (the bound leaves room for any load).
        EXPECT_LT(elapsed, 10000u);
        EXPECT_EQ(asked, std::vector<std::string>{c.Text});
        EXPECT_TRUE(SameStore(StoreImage::FromGlobals(), inMemory));
        EXPECT_EQ(ReadBytes(dir_ / "Results.bin"), before);
        EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
    }
}

// Retry starts a new series, which succeeds once the other copy has let go.
TEST_F(ResultsStoreFiles, RetryTriesAgain) {
    const StoreImage onDisk = OneComputer("disk", 2);
    WriteBytes(dir_ / "Other.bin", onDisk.Encode());
    ForeignLock other(dir_.path());
    std::vector<std::string> asked;
    SetRetryAsker([&](const std::string& text) {
        asked.push_back(text);
        other.Release();
        return true;
    });

    LoadResults("Other.bin");
    EXPECT_EQ(asked, std::vector<std::string>{"Файл Other.bin не доступен для чтения."});
    EXPECT_TRUE(SameStore(StoreImage::FromGlobals(), onDisk));

    ForeignLock again(dir_.path());
    asked.clear();
    SetRetryAsker([&](const std::string& text) {
        asked.push_back(text);
        again.Release();
        return true;
    });
    SaveResults();
    EXPECT_EQ(asked, std::vector<std::string>{WriteFailure});
    StoreTest::Clear();
    LoadResults("Results.bin");
    EXPECT_TRUE(SameStore(StoreImage::FromGlobals(), onDisk));
}

// The lock is held for the whole merge and save; nested loads and saves inside it do not wait,
// and nothing of it stays in the folder.
TEST_F(ResultsStoreFiles, ResultsFileLockSpansLoadAndSave) {
    OneComputer("x", 3).ToGlobals();
    {
        // A nested access that waited would end in a question, which the fixture fails.
        ResultsFileLock lock;
        EXPECT_TRUE(lock.Held());
        LoadResults("Results.bin");
        SaveResults();
        {
            ResultsFileLock inner;
            EXPECT_TRUE(inner.Held());
            LoadResults("Results.bin");
        }
        EXPECT_FALSE(FolderFree(dir_.path())); // the inner holder let go, the outer still holds
    }
    EXPECT_TRUE(FolderFree(dir_.path()));
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
}

// Ignoring the wait for the lock gives up only the lock for the whole merge and save: the merge
// and the save are still attempted, each under the folder lock for its own access, and a save
// that cannot be made asks with its own message instead of losing the results without a word.
TEST_F(ResultsStoreFiles, IgnoredLockStillMergesAndSaves) {
    const StoreImage onDisk = OneComputer("disk", 1);
    WriteBytes(dir_ / "Results.bin", onDisk.Encode());
    const auto before = ReadBytes(dir_ / "Results.bin");
    const StoreImage inMemory = OneComputer("memory", 2);

    struct Case {
        const char* Name;
        bool OtherLetsGo; // after the first question
        std::vector<std::string> Asked;
    } const cases[] = {
        {"the other copy holds on", false, {ReadFailure, ReadFailure, WriteFailure}},
        {"the other copy lets go", true, {ReadFailure}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteBytes(dir_ / "Results.bin", before);
        StoreTest::Clear();
        inMemory.ToGlobals();
        ForeignLock other(dir_.path());
        std::vector<std::string> asked;
        SetRetryAsker([&](const std::string& text) {
            asked.push_back(text);
            if (c.OtherLetsGo)
                other.Release();
            return false;
        });
        {
            ResultsFileLock lock;
            EXPECT_FALSE(lock.Held());
            LoadResults("Results.bin");
            SaveResults();
        }
        EXPECT_EQ(asked, c.Asked);
        other.Release();

        StoreTest::Clear();
        LoadResults("Results.bin");
        if (c.OtherLetsGo) {
            // The store in memory, with the file's computer merged in after its own.
            StoreImage both = inMemory;
            both.Computers.push_back(onDisk.Computers[0]);
            both.Devices.push_back(onDisk.Devices[0]);
            both.Results.push_back(onDisk.Results[0]);
            EXPECT_TRUE(SameStore(StoreImage::FromGlobals(), both));
        } else {
            EXPECT_EQ(ReadBytes(dir_ / "Results.bin"), before);
        }
    }
}

// A save keeps a write-protected Results.bin's permissions and, where the process may give
// files away (root saving another user's file), its owner and group; it leaves only
// Results.bin.
TEST_F(ResultsStoreFiles, SaveReplacesWholeFileAndKeepsItsModeAndOwner) {
    WriteBytes(dir_ / "Results.bin", OneComputer("old", 1).Encode());
    std::filesystem::permissions(dir_ / "Results.bin", std::filesystem::perms(0640));
    const passwd* other = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (other != nullptr) {
        ASSERT_EQ(chown((dir_ / "Results.bin").c_str(), other->pw_uid, other->pw_gid), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat((dir_ / "Results.bin").c_str(), &before), 0);
    LoadResults("Results.bin");
    const StoreImage store = OneComputer("x", 2);
    store.ToGlobals();
    const TSaveOutcome saved = SaveResults();
    EXPECT_TRUE(saved.Saved);
    EXPECT_TRUE(saved.KeptAs.empty());
    EXPECT_EQ(ReadBytes(dir_ / "Results.bin").size(), store.Encode().size());
    EXPECT_EQ(std::filesystem::status(dir_ / "Results.bin").permissions(),
              std::filesystem::perms(0640));
    struct stat after {};
    ASSERT_EQ(stat((dir_ / "Results.bin").c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not written in place";
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
}

// Temporary files of a killed save are swept by the next save, but only the hidden names a
// save makes: files of the user's whose names merely begin like Results.bin stay.
TEST_F(ResultsStoreFiles, NextSaveRemovesOnlyItsOwnTemporaryFiles) {
    const std::vector<std::string> users = {"Keep.bin", "Results.bin.AbC123", "Results.bin.backup",
                                            "Results.bin.orig24", ".Results.bin.tmpTooLong7"};
    for (const auto& name : users)
        WriteBytes(dir_ / name, {1, 2, 3});
    WriteBytes(dir_ / ".Results.bin.tmpAbC123", {1, 2, 3});
    EXPECT_TRUE(SaveResults().Saved);
    std::vector<std::string> expected = users;
    expected.push_back("Results.bin");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderEntries(dir_.path()), expected);
}

// Through a link, the temporary files of a killed save are beside the file the link names, and
// they are swept there; the link's own folder and the user's files beside the target stay.
TEST_F(ResultsStoreFiles, NextSaveRemovesTemporaryFilesBesideTheLinksTarget) {
    std::filesystem::create_directory(dir_ / "st");
    WriteBytes(dir_ / "st" / "bench.dat", OneComputer("shared", 1).Encode());
    std::filesystem::create_symlink("st/bench.dat", dir_ / "Results.bin");
    WriteBytes(dir_ / "st" / ".bench.dat.tmpQw3rty", {1, 2, 3}); // a killed save's
    WriteBytes(dir_ / "st" / ".bench.dat.tmp", {4});             // the user's
    WriteBytes(dir_ / "st" / ".Results.bin.tmpAbC123", {5});     // the user's, too
    LoadResults("Results.bin");
    ASSERT_TRUE(SaveResults().Saved);
    EXPECT_EQ(FolderEntries(dir_ / "st"),
              (std::vector<std::string>{".Results.bin.tmpAbC123", ".bench.dat.tmp", "bench.dat"}));
    EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{"Results.bin", "st"}));
}

// Only a file whose every byte is in the store is replaced as it is; any other is kept under a
// name that is never offered for merging, once, and the save says which.
TEST_F(ResultsStoreFiles, AFileNotHeldWholeIsKeptBeforeItIsReplaced) {
    const auto valid = OneComputer("on disk", 1).Encode();
    auto otherVersion = valid;
    otherVersion[ResultsVersionOffset] = 2;
    const struct {
        const char* name;
        std::vector<std::uint8_t> onDisk;
        bool loadFirst;
        std::vector<std::uint8_t> changedAfterLoad; // written behind the program's back
        bool kept;
    } cases[] = {
        {"read whole", valid, true, {}, false},
        {"never read", valid, false, {}, true},
        {"another version", otherVersion, true, {}, true},
        {"changed after it was read", valid, true, OneComputer("elsewhere", 2).Encode(), true},
        {"too small to hold a computer", std::vector<std::uint8_t>(300, 7), true, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder(true);
        StoreTest::Clear();
        WriteBytes(folder / "Results.bin", c.onDisk);
        if (c.loadFirst)
            LoadResults("Results.bin");
        EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"Results.bin"})
            << "reading changes nothing on disk";
        if (!c.changedAfterLoad.empty())
            WriteBytes(folder / "Results.bin", c.changedAfterLoad);
        const auto old = ReadBytes(folder / "Results.bin");
        OneComputer("in memory", 1).ToGlobals();

        const TSaveOutcome first = SaveResults();
        ASSERT_TRUE(first.Saved);
        EXPECT_EQ(first.KeptAs.empty(), !c.kept);
        EXPECT_EQ(FolderEntries(folder.path()).size(), c.kept ? 2u : 1u);
        if (c.kept) {
            EXPECT_TRUE(first.KeptAs.starts_with("Results.bin.kept-")) << first.KeptAs;
            EXPECT_FALSE(first.KeptAs.ends_with(".bin"));
            EXPECT_EQ(ReadBytes(folder / first.KeptAs), old);
        }
        // The file now on disk is this copy's own: the next save keeps nothing more.
        const TSaveOutcome second = SaveResults();
        EXPECT_TRUE(second.KeptAs.empty());
        EXPECT_EQ(FolderEntries(folder.path()).size(), c.kept ? 2u : 1u);
    }
}

// A Results.bin that is a link to a file elsewhere stays a link: the file it names is
// replaced.
TEST_F(ResultsStoreFiles, SaveThroughALinkReplacesTheFileItNames) {
    std::filesystem::create_directory(dir_ / "elsewhere");
    WriteBytes(dir_ / "elsewhere" / "Shared.bin", OneComputer("shared", 1).Encode());
    std::filesystem::create_symlink("elsewhere/Shared.bin", dir_ / "Results.bin");
    LoadResults("Results.bin");
    ComputerResults[0].push_back(MakeResult(2000, 800, 600, 32, 20));
    ASSERT_TRUE(SaveResults().Saved);
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "Results.bin"));
    EXPECT_EQ(ReadBytes(dir_ / "elsewhere" / "Shared.bin").size(),
              StoreImage::FromGlobals().Encode().size());
    EXPECT_EQ(FolderEntries(dir_ / "elsewhere"), std::vector<std::string>{"Shared.bin"});
}

// A copy saving in a loop is killed at random moments; Results.bin is then always the old
// store or the new one, whole.
TEST_F(ResultsStoreFiles, KilledSaveLeavesOldOrNewFile) {
    StoreImage first, second;
    for (int i = 0; i < 40; ++i) {
        first.Add(MakeComputer("first " + std::to_string(i)), {"  chip", "  video"},
                  {MakeResult(i, 640, 480, 16, 1.0f * i)});
        second.Add(MakeComputer("second " + std::to_string(i)), {"  chip"},
                   {MakeResult(i, 800, 600, 32, 2.0f * i), MakeResult(i, 640, 480, 16, 3)});
    }
    first.ToGlobals();
    SaveResults();

    // The child counts its finished saves here, so that every kill lands inside its loop
    // whatever the machine's load, never before its first save.
    auto* saves = static_cast<std::atomic<int>*>(mmap(nullptr, sizeof(std::atomic<int>),
                                                      PROT_READ | PROT_WRITE,
                                                      MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(saves, MAP_FAILED);
    new (saves) std::atomic<int>(0);

    std::mt19937 random(7);
    int sawFirst = 0, sawSecond = 0;
    for (int kill = 0; kill < 200; ++kill) {
        saves->store(0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (bool which = kill % 2 == 0;; which = !which) {
                (which ? first : second).ToGlobals();
                SaveResults();
                saves->fetch_add(1);
            }
        }
        while (saves->load() == 0)
            usleep(100);
        usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        StoreTest::Clear();
        LoadResults("Results.bin");
        const StoreImage loaded = StoreImage::FromGlobals();
        const bool isFirst = SameStore(loaded, first), isSecond = SameStore(loaded, second);
        ASSERT_TRUE(isFirst || isSecond) << "after kill " << kill;
        sawFirst += isFirst;
        sawSecond += isSecond;
    }
    // Both stores were seen: the loops start with either, and every kill came after a save.
    EXPECT_GT(sawSecond, 10);
    EXPECT_GT(sawFirst, 10);
    munmap(saves, sizeof(std::atomic<int>));

    // Nothing a killed save may have left behind survives the next save.
    first.ToGlobals();
    SaveResults();
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
}

// Two copies record results and merge-and-save against one file at the same time. Each
// publishes how many rounds it has saved; a copy's merge must always find at least that many
// results of the other, and the file ends with every result of both.
TEST_F(ResultsStoreFiles, TwoCopiesMergingLoseNoResult) {
    constexpr int Rounds = ConfigurationCount; // a result of another configuration each
    auto* saved = static_cast<std::atomic<int>*>(mmap(nullptr, 2 * sizeof(std::atomic<int>),
                                                      PROT_READ | PROT_WRITE,
                                                      MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(saved, MAP_FAILED);
    new (&saved[0]) std::atomic<int>(0);
    new (&saved[1]) std::atomic<int>(0);
    const TComputerRecord computers[2] = {MakeComputer("one"), MakeComputer("two")};

    const auto copy = [&](int self) {
        SetRetryAsker([](const std::string&) { return true; });
        StoreTest::Clear();
        Computers.push_back(computers[self]);
        ComputerDevices.push_back({Scrambled("  chip")});
        ComputerResults.emplace_back();
        for (int round = 0; round < Rounds; ++round) {
            // The computer is entry 0: merges only append after it.
            ComputerResults[0].push_back(NthResult(round, round, 1));
            ResultsFileLock lock;
            LoadResults("Results.bin");
            const int otherSaved = saved[1 - self].load();
            std::size_t otherHave = 0;
            for (std::size_t i = 0; i < Computers.size(); ++i)
                if (std::memcmp(&Computers[i], &computers[1 - self], sizeof(TComputerRecord)) == 0)
                    otherHave = ComputerResults[i].size();
            EXPECT_GE(otherHave, static_cast<std::size_t>(otherSaved)) << "round " << round;
            usleep(500); // the launch code's work between merge and save
            SaveResults();
            saved[self] = round + 1;
        }
    };
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            copy(c);
            _exit(testing::Test::HasFailure() ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    munmap(saved, 2 * sizeof(std::atomic<int>));

    LoadResults("Results.bin");
    ASSERT_EQ(Computers.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(ComputerResults[i].size(), static_cast<std::size_t>(Rounds));
        for (int round = 0; round < Rounds; ++round)
            EXPECT_TRUE(SameResultKey(ComputerResults[i][round], NthResult(round, 0, 1)));
    }
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
}

namespace {

// Links A/Results.bin and B/Results.bin to one file in the folder "shared", with the working
// directory in A.
struct TwoLinks {
    explicit TwoLinks(const std::filesystem::path& top) : Top(top) {
        for (const char* folder : {"A", "B", "shared"})
            std::filesystem::create_directory(top / folder);
        WriteBytes(top / "shared" / "Results.bin", OneComputer("shared", 1).Encode());
        for (const char* folder : {"A", "B"})
            std::filesystem::create_symlink("../shared/Results.bin", top / folder / "Results.bin");
        std::filesystem::current_path(top / "A");
    }
    ~TwoLinks() { std::filesystem::current_path(Top); }
    std::filesystem::path Top;
};

} // namespace

// Two links to one file from two folders: the lock is that of the file the links name, so a
// copy in A waits for one in B; the link's own folder held means nothing.
TEST_F(ResultsStoreFiles, TheLockBelongsToTheFileALinkNames) {
    const TwoLinks links(dir_.path());
    std::vector<std::string> asked;
    SetRetryAsker([&](const std::string& text) {
        asked.push_back(text);
        return false;
    });
    {
        ForeignLock linkFolder(dir_ / "B");
        ForeignLock ownFolder(dir_ / "A");
        LoadResults("Results.bin");
        EXPECT_TRUE(asked.empty());
        EXPECT_EQ(Computers.size(), 1u);
        EXPECT_TRUE(SaveResults().Saved);
    }
    {
        ForeignLock target(dir_ / "shared");
        TMergeReport report;
        LoadResults("Results.bin", &report);
        EXPECT_EQ(report.Outcome, TMergeOutcome::NotOpened);
        EXPECT_TRUE(report.HeldByAnotherCopy);
        const TSaveOutcome save = MergeAndSaveResults();
        EXPECT_FALSE(save.Saved);
        EXPECT_TRUE(save.Locked);
    }
    // The load; then the merge's lock, and neither a load nor a save after it was given up.
    EXPECT_EQ(asked.size(), 2u);
}

// Another copy holding the file past the timed retries is waited for: the waiter of a command
// (or the dialog, which closes by itself) takes the file as soon as it is free, and the file
// is read, not called damaged.
TEST_F(ResultsStoreFiles, AFileHeldPastTheRetriesIsWaitedFor) {
    WriteBytes(dir_ / "Results.bin", OneComputer("disk", 2).Encode());
    OneComputer("memory", 1).ToGlobals();
    int waits = 0;
    const TBusyWaiter previous =
        SetBusyWaiter([&](const std::string& fileName, const std::function<bool()>& attemptNow) {
            EXPECT_EQ(fileName, "Results.bin");
            ++waits;
            for (int i = 0; i < 200; ++i) {
                if (attemptNow())
                    return true;
                Sleep(50);
            }
            return false;
        });
    auto other = std::make_unique<ForeignLock>(dir_.path());
    std::thread letGo([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        other->Release();
    });
    const std::uint32_t start = GetTickCount();
    const TSaveOutcome save = MergeAndSaveResults();
    const std::uint32_t elapsed = GetTickCount() - start;
    letGo.join();
    SetBusyWaiter(previous);

    EXPECT_GE(elapsed, 3000u);
    EXPECT_EQ(waits, 1);
    EXPECT_TRUE(save.Saved);
    EXPECT_TRUE(save.KeptAs.empty()) << "a file that was only busy is no damaged file";
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
    StoreTest::Clear();
    LoadResults("Results.bin");
    EXPECT_EQ(Computers.size(), 2u);
}

// A copy that gave up waiting for the file replaces nothing, even should the other copy let go
// just then: the other copy's results stay in Results.bin, this copy's in memory, and the
// reason is the held file, never a damaged one.
TEST_F(ResultsStoreFiles, AFileNotReadIsNotReplaced) {
    WriteBytes(dir_ / "Results.bin", OneComputer("disk", 2).Encode());
    const auto before = ReadBytes(dir_ / "Results.bin");
    OneComputer("memory", 1).ToGlobals();
    ForeignLock other(dir_.path());
    // This copy gives up waiting just as the other copy ends its save.
    int waits = 0;
    const TBusyWaiter previous =
        SetBusyWaiter([&](const std::string&, const std::function<bool()>&) {
            ++waits;
            other.Release();
            return false;
        });
    const TSaveOutcome save = MergeAndSaveResults();
    SetBusyWaiter(previous);
    EXPECT_EQ(waits, 1);
    EXPECT_FALSE(save.Saved);
    EXPECT_TRUE(save.Locked);
    EXPECT_TRUE(ResultsUnsaved);
    EXPECT_EQ(SaveFailureText(save), "файл занят другой копией программы");
    EXPECT_EQ(ReadBytes(dir_ / "Results.bin"), before);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});

    // A file that cannot be opened at all is not replaced either, and the reason is the system's.
    if (geteuid() != 0) {
        std::filesystem::permissions(dir_ / "Results.bin", std::filesystem::perms::none);
        SetRetryAsker([](const std::string&) { return false; });
        const TSaveOutcome unread = MergeAndSaveResults();
        EXPECT_FALSE(unread.Saved);
        EXPECT_EQ(unread.UnreadErrno, EACCES);
        std::filesystem::permissions(dir_ / "Results.bin", std::filesystem::perms(0644));
        EXPECT_EQ(ReadBytes(dir_ / "Results.bin"), before);
    }
}

// A file kept aside is named with what its reader took and left, in the window's words.
TEST_F(ResultsStoreFiles, AKeptFileSaysWhatItsReaderLeft) {
    StoreImage three;
    for (const char* tag : {"one", "two", "three"})
        three.Add(MakeComputer(tag), {"  chip"},
                  {MakeResult(7, 640, 480, 16, 30), MakeResult(8, 800, 600, 16, 20)});
    const auto whole = three.Encode();
    // The second block's line count runs past the end.
    const std::size_t block = sizeof(TComputerRecord) + 4 + 256 + 4 + 2 * sizeof(TResultRecord);
    auto damaged = whole;
    damaged[ResultsFirstBlockOffset + block + sizeof(TComputerRecord) + 3] = 0x40;
    // 64 bytes flipped in the middle of the first block's second result.
    auto flipped = whole;
    const std::size_t result =
        ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 256 + 4 + sizeof(TResultRecord);
    for (std::size_t i = 24; i < 88; ++i)
        flipped[result + i] ^= 0xFF;

    const struct Case {
        const char* Name;
        std::vector<std::uint8_t> File;
        std::vector<std::string> Says;
    } cases[] = {
        {"a damaged block",
         damaged,
         {"Файл «Results.bin» повреждён: блок 2-го компьютера",
          "Прочитано компьютеров: 1 из 3, результатов: 2; остальные компьютеры (2) и их "
          "результаты не прочитаны."}},
        {"flipped bytes in a result",
         flipped,
         {"Из файла «Results.bin» не взято результатов: 1 — это не могут быть измерения: "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StoreTest::Clear();
        TempDir folder(true);
        WriteBytes(folder / "Results.bin", c.File);
        LoadResults("Results.bin");
        const TSaveOutcome save = SaveResults();
        ASSERT_TRUE(save.Saved);
        ASSERT_FALSE(save.KeptAs.empty());
        ASSERT_NE(save.KeptRead, nullptr);
        const std::string text = KeptFileText(save);
        for (const std::string& part : c.Says)
            EXPECT_NE(text.find(part), std::string::npos) << text;
        EXPECT_NE(text.find(save.KeptAs), std::string::npos) << text;
        EXPECT_EQ(text.find("другой версией"), std::string::npos) << text;
        EXPECT_EQ(ReadBytes(folder / save.KeptAs), c.File);
    }
}
