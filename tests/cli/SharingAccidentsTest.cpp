// The accidents between copies, users and damaged records, met through the real program as a
// user or a script meets them: another copy's save holding the file past the timed retries,
// two links to one file, a killed save beside a link's target, a file of another user, output
// to a full device, a sparse file of 2 GiB whose size field matches, and bytes flipped in a
// record. Each row: nothing is lost, the user is told the truth, no temporary file is left,
// and the program's memory stays bounded whatever the file claims.
#include "ProgramRun.h"
#include "state/SaveAccidents.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;

// The peak resident memory a run may reach: a pass under the sanitizers takes about 650 MB,
// a command without a pass about 60 MB; a whole 2 GiB file held in memory passes both.
constexpr long PassPeakKb = 1200L * 1024;
constexpr long CommandPeakKb = 300L * 1024;

// One run of the program, with the largest resident memory it reached.
struct TMeasuredRun {
    int ExitCode = -1; // -1: ended by a signal, or not at all
    std::string Out;
    std::string Err;
    long PeakKb = 0;
};

// Runs the program in folder. In the child, setUp runs after standard output and error are
// connected and before the program starts (a limit, a user, a mount, another standard
// output); watch sees what the program has written so far every 100 ms and may act on it.
TMeasuredRun RunMeasured(const QStringList& arguments, const std::filesystem::path& folder,
                         const std::function<void()>& setUp = {},
                         const std::function<void(const TMeasuredRun&)>& watch = {}) {
    std::vector<std::string> strings{STENDO_PROGRAM};
    for (const QString& argument : arguments)
        strings.push_back(argument.toStdString());
    std::vector<std::string> environment;
    for (const QString& entry :
         Isolated(DisplayEnvironment(), folder.parent_path() / "tmp").toStringList())
        environment.push_back(entry.toStdString());
    std::vector<char*> argv, envp;
    for (auto& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : environment)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    TMeasuredRun run;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipes";
        return run;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        if (setUp)
            setUp();
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    const auto giveUp = Clock::now() + std::chrono::minutes(4);
    while (open > 0 && Clock::now() < giveUp) {
        poll(fds, 2, 100);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? run.Out : run.Err).append(buffer, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        if (watch)
            watch(run);
    }
    if (open > 0) {
        ADD_FAILURE() << "the program did not end";
        kill(child, SIGKILL);
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.PeakKb = usage.ru_maxrss;
    return run;
}

// Another copy's save that takes its time: it takes the lock of the folder's Results.bin as
// the program does (the file a link names), reads the file, adds a computer of its own with a
// result, and saves and ends only when told to.
class SlowSave {
public:
    SlowSave(const std::filesystem::path& folder, const std::string& owner) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(go_) != 0)
            return;
        child_ = fork();
        if (child_ == 0) {
            close(go_[1]);
            SetRetryAsker([](const std::string&) { return false; });
            if (chdir(folder.c_str()) != 0)
                _exit(2);
            ResultsFileLock lock;
            const char held = lock.Held() ? 1 : 0;
            (void)!write(ready[1], &held, 1);
            LoadResults(ResultsFileName);
            Computers.push_back(MakeComputer(owner));
            ComputerDevices.push_back({Scrambled("  chip")});
            ComputerResults.push_back({MakeResult(46000, 1024, 768, 32, 45)});
            char go = 0;
            (void)!read(go_[0], &go, 1);
            _exit(SaveResults().Saved ? 0 : 1);
        }
        close(go_[0]);
        char held = 0;
        held_ = child_ > 0 && read(ready[0], &held, 1) == 1 && held == 1;
        close(ready[0]);
        close(ready[1]);
    }
    ~SlowSave() {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        close(go_[1]);
    }
    SlowSave(const SlowSave&) = delete;
    SlowSave& operator=(const SlowSave&) = delete;

    bool Held() const { return held_; }

    // Lets it save and end; true when it saved.
    bool Finish() {
        const char go = 1;
        (void)!write(go_[1], &go, 1);
        int status = 0;
        const bool ended = waitpid(child_, &status, 0) == child_;
        child_ = -1;
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t child_ = -1;
    int go_[2] = {-1, -1};
    bool held_ = false;
};

// The store a file holds, read by the program's own reader; the reader must take it whole.
StoreImage StoreIn(const std::filesystem::path& file) {
    StoreImage store;
    TMergeReport report;
    MergeResultsFile(ReadBytes(file), LatestPlausibleTimestamp(), store.Computers, store.Devices,
                     store.Results, &report);
    EXPECT_TRUE(report.TookEverything()) << file;
    return store;
}

// How many results each computer of a store has, by the tag of MakeComputer or, for the
// computer the program identified, "this computer".
std::map<std::string, std::size_t> ResultCounts(const StoreImage& store) {
    std::map<std::string, std::size_t> counts;
    for (std::size_t i = 0; i < store.Computers.size(); ++i) {
        std::string name = StringSlotText(UnscrambleText(store.Computers[i].Owner));
        if (!name.starts_with("Иван "))
            name = "this computer";
        counts[name] = store.Results[i].size();
    }
    return counts;
}

// The temporary files of saves left in a folder.
std::vector<std::string> TemporaryFiles(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const std::string& name : FolderEntries(folder))
        if (name.starts_with(".") && name.find(".tmp") != std::string::npos)
            found.push_back(name);
    return found;
}

class SharingAccident : public testing::Test {
protected:
    SharingAccident() {
        std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
        std::filesystem::create_directories(dir_ / "tmp");
        std::filesystem::permissions(dir_ / "tmp", std::filesystem::perms(01777));
    }

    std::filesystem::path Folder(const char* name) {
        std::filesystem::create_directories(dir_ / name);
        return dir_ / name;
    }

    // Every row ends with these: no temporary file in the folders, memory bounded.
    void ExpectNoTemporaryFiles(std::initializer_list<const char*> folders) {
        for (const char* folder : folders)
            EXPECT_EQ(TemporaryFiles(dir_ / folder), std::vector<std::string>{}) << folder;
    }

    TempDir dir_;
};

// Two copies, one of which saves for longer than the 2 s of the timed retries: the other waits,
// says so, and merges what the first one wrote. With links, the copies work in two folders
// whose Results.bin name one file.
void TwoCopies(const std::filesystem::path& programFolder, const std::filesystem::path& otherFolder,
               const std::filesystem::path& file,
               const std::vector<std::filesystem::path>& folders) {
    std::optional<SlowSave> other;
    std::optional<Clock::time_point> toldToWait;
    bool finished = false;
    bool otherSaved = false;
    const TMeasuredRun run = RunMeasured(
        {"--run", "--modes", "640x480x16,640x480x32", "--accel", "emulation"}, programFolder, {},
        [&](const TMeasuredRun& sofar) {
            // The other copy takes the file while the second pass runs, so that the end of the
            // series finds it held.
            if (!other && sofar.Out.find('\n') != std::string::npos) {
                other.emplace(otherFolder, "other copy");
                EXPECT_TRUE(other->Held());
            }
            if (other && !toldToWait && sofar.Err.find("waiting for it") != std::string::npos)
                toldToWait = Clock::now();
            // Past the timed retries by far before the other copy saves and lets go.
            if (toldToWait && !finished && Clock::now() - *toldToWait > std::chrono::seconds(3)) {
                finished = true;
                otherSaved = other->Finish();
            }
        });
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(otherSaved);
    EXPECT_NE(run.Err.find("Results.bin is held by another copy of the program; waiting for it"),
              std::string::npos)
        << run.Err;
    EXPECT_EQ(run.Err.find("could not be read"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("kept"), std::string::npos) << run.Err;
    EXPECT_LE(run.PeakKb, PassPeakKb);
    // Both series in the file, and what it held before.
    const std::map<std::string, std::size_t> expected = {{"Иван earlier one", 1},
                                                         {"Иван earlier two", 1},
                                                         {"Иван other copy", 1},
                                                         {"this computer", 2}};
    EXPECT_EQ(ResultCounts(StoreIn(file)), expected);
    for (const auto& folder : folders) {
        for (const std::string& name : FolderEntries(folder))
            EXPECT_FALSE(name.starts_with("Results.bin.kept-")) << name;
        EXPECT_EQ(TemporaryFiles(folder), std::vector<std::string>{}) << folder;
    }
}

TEST_F(SharingAccident, TwoCopiesWithASaveHeldPastTheWait) {
    const auto work = Folder("work");
    WriteBytes(work / "Results.bin", EarlierStore().Encode());
    TwoCopies(work, work, work / "Results.bin", {work});
}

TEST_F(SharingAccident, TwoLinksToOneFile) {
    const auto a = Folder("A"), b = Folder("B"), shared = Folder("shared");
    WriteBytes(shared / "Results.bin", EarlierStore().Encode());
    std::filesystem::create_symlink("../shared/Results.bin", a / "Results.bin");
    std::filesystem::create_symlink("../shared/Results.bin", b / "Results.bin");
    TwoCopies(a, b, shared / "Results.bin", {a, b, shared});
    EXPECT_TRUE(std::filesystem::is_symlink(a / "Results.bin"));
    EXPECT_TRUE(std::filesystem::is_symlink(b / "Results.bin"));
}

// A save killed after its temporary file appeared beside the file a link names: the next save
// removes it there, where the link's own folder has none.
TEST_F(SharingAccident, AKilledSaveBesideALinksTarget) {
    const auto work = Folder("work"), st = Folder("st");
    WriteBytes(st / "bench.dat", EarlierStore().Encode());
    std::filesystem::create_symlink("../st/bench.dat", work / "Results.bin");
    const pid_t killed = fork();
    if (killed == 0) {
        if (chdir(work.c_str()) != 0)
            _exit(2);
        FileReplacement save;
        const std::uint8_t bytes[100] = {};
        if (save.Begin("Results.bin") && save.Write(bytes, sizeof bytes))
            raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    waitpid(killed, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(TemporaryFiles(st).size(), 1u);
    ASSERT_TRUE(TemporaryFiles(st)[0].starts_with(".bench.dat.tmp"));

    const TMeasuredRun run =
        RunMeasured({"--run", "--modes", "640x480x16", "--accel", "emulation"}, work);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_LE(run.PeakKb, PassPeakKb);
    EXPECT_EQ(FolderEntries(st), std::vector<std::string>{"bench.dat"});
    EXPECT_EQ(FolderEntries(work), std::vector<std::string>{"Results.bin"});
    EXPECT_TRUE(std::filesystem::is_symlink(work / "Results.bin"));
    const std::map<std::string, std::size_t> expected = {
        {"Иван earlier one", 1}, {"Иван earlier two", 1}, {"this computer", 1}};
    EXPECT_EQ(ResultCounts(StoreIn(st / "bench.dat")), expected);
}

// Root runs a series in the folder of another user, whose Results.bin that user owns: the file
// stays the user's, with its permissions, and the user's own next save works.
TEST_F(SharingAccident, AFileOwnedByAnotherUser) {
    const passwd* user = UnprivilegedUser();
    if (user == nullptr)
        GTEST_SKIP() << "only root saves another user's file";
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const auto home = Folder("home");
    WriteBytes(home / "Results.bin", EarlierStore().Encode());
    ASSERT_EQ(chown(home.c_str(), uid, gid), 0);
    ASSERT_EQ(chown((home / "Results.bin").c_str(), uid, gid), 0);
    std::filesystem::permissions(home / "Results.bin", std::filesystem::perms(0640));

    const TMeasuredRun run =
        RunMeasured({"--run", "--modes", "640x480x16", "--accel", "emulation"}, home);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_LE(run.PeakKb, PassPeakKb);
    struct stat info {};
    ASSERT_EQ(stat((home / "Results.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ResultCounts(StoreIn(home / "Results.bin")).at("this computer"), 1u);

    // The owner's next save.
    const pid_t owner = fork();
    if (owner == 0) {
        SetRetryAsker([](const std::string&) { return false; });
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0 ||
            chdir(home.c_str()) != 0)
            _exit(2);
        LoadResults(ResultsFileName);
        Computers.push_back(MakeComputer("owner"));
        ComputerDevices.emplace_back();
        ComputerResults.push_back({MakeResult(46001, 800, 600, 32, 50)});
        _exit(SaveResults().Saved ? 0 : 1);
    }
    int status = 0;
    waitpid(owner, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the owner could not save";
    EXPECT_EQ(ResultCounts(StoreIn(home / "Results.bin")).size(), 4u);
    ExpectNoTemporaryFiles({"home"});
}

// Output to a full device fails with the reason: /dev/full, a small file system that fills,
// and a series whose lines cannot be written (its results are saved all the same).
TEST_F(SharingAccident, OutputToAFullDevice) {
    const auto work = Folder("work");
    StoreImage many = EarlierStore();
    for (int i = 0; i < 60; ++i)
        many.Add(MakeComputer("many " + std::to_string(i)), {"  chip"},
                 {MakeResult(46000 + i, 640, 480, 16, 20)});
    WriteBytes(work / "S.bin", many.Encode());
    const auto toFullDevice = [] {
        const int full = open("/dev/full", O_WRONLY);
        if (full < 0 || dup2(full, 1) < 0)
            _exit(125);
    };
    const std::string lost = "the output could not be written: No space left on device";
    for (const QStringList& arguments :
         {QStringList{"--export", "csv", "--results", "S.bin"},
          QStringList{"--export", "json", "--results", "S.bin"}, QStringList{"--help"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const TMeasuredRun run = RunMeasured(arguments, work, toFullDevice);
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find(lost), std::string::npos) << run.Err;
        EXPECT_LE(run.PeakKb, CommandPeakKb);
    }

    // A file system of 16 KiB, private to the program's process, filled by the export (as
    // root; the mount goes with the process).
    const std::filesystem::path small = dir_ / "small";
    std::filesystem::create_directory(small);
    const TMeasuredRun filled =
        RunMeasured({"--export", "csv", "--results", "S.bin"}, work, [&small] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("stendo-small", small.c_str(), "tmpfs", 0, "size=16k") != 0)
                _exit(125);
            const int file =
                open((small / "out.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (file < 0 || dup2(file, 1) < 0)
                _exit(125);
        });
    if (filled.ExitCode == 125) {
        std::printf("no private mount here: the full file system is left to /dev/full\n");
    } else {
        EXPECT_EQ(filled.ExitCode, 1) << filled.Err;
        EXPECT_NE(filled.Err.find(lost), std::string::npos) << filled.Err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(small)) << "the mount was the process's own";

    const TMeasuredRun series =
        RunMeasured({"--run", "--modes", "640x480x16", "--accel", "emulation"}, work, toFullDevice);
    EXPECT_EQ(series.ExitCode, 1) << series.Err;
    EXPECT_NE(series.Err.find(lost), std::string::npos) << series.Err;
    EXPECT_LE(series.PeakKb, PassPeakKb);
    EXPECT_EQ(ResultCounts(StoreIn(work / "Results.bin")).at("this computer"), 1u);
    ExpectNoTemporaryFiles({"work"});
}

// A sparse file of 2 GiB (a few kB on the disk) whose size field matches and whose count
// claims every computer it could hold: the export reads it in pieces and says what it left;
// a series keeps it aside, as it is, and writes a new file.
TEST_F(SharingAccident, ASparseFileWithAMatchingSizeField) {
    const auto work = Folder("work");
    const std::int32_t size = 0x7FFFFFFF;
    {
        const int fd = open((work / "Results.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::vector<std::uint8_t> head(ResultsFirstBlockOffset);
        const TStringSlot header = ResultsHeaderSlot();
        std::memcpy(head.data(), header.data(), header.size());
        head[ResultsVersionOffset] = VersionMajor;
        head[ResultsVersionOffset + 1] = VersionMinor;
        const std::int32_t blocks = 0x7FFFFFFF;
        std::memcpy(head.data() + ResultsCountOffset, &blocks, 4);
        ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
        ASSERT_EQ(pwrite(fd, &size, 4, size - 4), 4);
        close(fd);
    }
    struct stat sparse {};
    ASSERT_EQ(stat((work / "Results.bin").c_str(), &sparse), 0);
    ASSERT_LT(sparse.st_blocks * 512, 1 << 20) << "the file system here keeps no sparse files";

    const TMeasuredRun exported = RunMeasured({"--export", "csv"}, work);
    EXPECT_EQ(exported.ExitCode, 0) << exported.Err;
    EXPECT_LE(exported.PeakKb, CommandPeakKb);
    const std::int32_t blocks = (size - 266) / (sizeof(TComputerRecord) + 8);
    EXPECT_NE(exported.Err.find("Results.bin: computer block " + std::to_string(blocks + 1) +
                                " (at byte " + std::to_string(262 + std::int64_t{blocks} * 2480) +
                                ") states more than the file holds: " + std::to_string(blocks) +
                                " of the 2147483647 computers it states read, with 0 results"),
              std::string::npos)
        << exported.Err;
    EXPECT_NE(exported.Err.find("Results.bin: " + std::to_string(blocks) +
                                " computers and 0 results left out: they cannot be measurements"),
              std::string::npos)
        << exported.Err;
    EXPECT_EQ(exported.Out.find('\n'), exported.Out.size() - 1) << "the header line alone";

    const TMeasuredRun series =
        RunMeasured({"--run", "--modes", "640x480x16", "--accel", "emulation"}, work);
    EXPECT_EQ(series.ExitCode, 0) << series.Err;
    EXPECT_LE(series.PeakKb, PassPeakKb);
    std::string kept;
    for (const std::string& name : FolderEntries(work))
        if (name.starts_with("Results.bin.kept-"))
            kept = name;
    ASSERT_FALSE(kept.empty()) << series.Err;
    EXPECT_NE(series.Err.find("the old Results.bin could not be read whole (computer block"),
              std::string::npos)
        << series.Err;
    EXPECT_NE(series.Err.find("it was kept as " + kept), std::string::npos) << series.Err;
    struct stat keptInfo {};
    ASSERT_EQ(stat((work / kept).c_str(), &keptInfo), 0);
    EXPECT_EQ(keptInfo.st_ino, sparse.st_ino) << "kept as it was, not copied";
    const std::map<std::string, std::size_t> expected = {{"this computer", 1}};
    EXPECT_EQ(ResultCounts(StoreIn(work / "Results.bin")), expected);
    ExpectNoTemporaryFiles({"work"});
}

// 64 bytes flipped in the middle of a result: the export leaves it out and says why, and a
// series keeps the file aside before it writes a new one without it.
TEST_F(SharingAccident, FlippedBytesInARecord) {
    const auto work = Folder("work");
    auto bytes = EarlierStore().Encode();
    const std::size_t result =
        ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 2 * sizeof(TStringSlot) + 4;
    for (std::size_t i = 24; i < 88; ++i)
        bytes[result + i] ^= 0xFF;
    WriteBytes(work / "Results.bin", bytes);

    const TMeasuredRun exported = RunMeasured({"--export", "json"}, work);
    EXPECT_EQ(exported.ExitCode, 0) << exported.Err;
    EXPECT_NE(exported.Err.find("Results.bin: 0 computers and 1 result left out: they cannot be "
                                "measurements\nstendograph: Results.bin: result 1 of computer "
                                "block 1 left out: "),
              std::string::npos)
        << exported.Err;
    // Earlier one without a result, earlier two with its own.
    const QJsonArray rows =
        QJsonDocument::fromJson(QByteArray::fromStdString(exported.Out)).array();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0].toObject()["run_count"].isNull());
    EXPECT_EQ(rows[1].toObject()["run_count"].toInt(), 1);
    EXPECT_LE(exported.PeakKb, CommandPeakKb);

    const TMeasuredRun series =
        RunMeasured({"--run", "--modes", "640x480x16", "--accel", "emulation"}, work);
    EXPECT_EQ(series.ExitCode, 0) << series.Err;
    EXPECT_LE(series.PeakKb, PassPeakKb);
    EXPECT_NE(series.Err.find("the old Results.bin could not be read whole (0 computers and 1 "
                              "result left out: they cannot be measurements: "),
              std::string::npos)
        << series.Err;
    std::string kept;
    for (const std::string& name : FolderEntries(work))
        if (name.starts_with("Results.bin.kept-"))
            kept = name;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(ReadBytes(work / kept), bytes);
    const std::map<std::string, std::size_t> expected = {
        {"Иван earlier one", 0}, {"Иван earlier two", 1}, {"this computer", 1}};
    EXPECT_EQ(ResultCounts(StoreIn(work / "Results.bin")), expected);
    ExpectNoTemporaryFiles({"work"});
}

} // namespace
