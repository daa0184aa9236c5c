// --run meeting the accidents of ordinary use, with one real pass where the series gets that
// far: the old results stay on the disk or are kept aside, standard error says why, the exit
// status is never the success one when nothing was saved, and no file of the user's goes.
#include "ProgramRun.h"
#include "state/SaveAccidents.h"

#include <QElapsedTimer>
#include <grp.h>

namespace {

// What --run must end with after each accident.
struct Expected {
    int ExitCode;
    const char* Says; // on standard error
};

Expected ExpectedOf(TAccident accident) {
    switch (accident) {
    case TAccident::DiskFull:
        return {4, "measured but not saved: writing Results.bin failed: File too large"};
    case TAccident::FolderLocked:
        return {4, "measured but not saved: Results.bin is held by another copy of the program"};
    case TAccident::FolderReadOnly:
        return {4, "measured but not saved: cannot create a file beside Results.bin: Permission "
                   "denied"};
    case TAccident::ResultsIsAFolder:
        return {2, "Results.bin"};
    case TAccident::DanglingLink:
        return {4, "measured but not saved: Results.bin is a symbolic link to a file that does "
                   "not exist"};
    case TAccident::OtherVersion:
        return {2, "version 1.4"};
    case TAccident::DamagedSize:
        return {2, "Results.bin"};
    case TAccident::DamagedBlock:
        return {0, "it was kept as Results.bin.kept-"};
    }
    return {};
}

class RunAccident : public testing::TestWithParam<TAccidentCase> {
protected:
    TempDir dir_;
    std::filesystem::path work_ = dir_ / "work";
    std::filesystem::path tmp_ = dir_ / "tmp";
};

TEST_P(RunAccident, OldResultsStayTheUserIsToldAndNothingOfTheirsGoes) {
    const TAccident accident = GetParam().Accident;
    const Expected expected = ExpectedOf(accident);
    std::filesystem::create_directories(work_);
    std::filesystem::create_directories(tmp_);
    // The unprivileged child must reach both folders.
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(tmp_, std::filesystem::perms(01777));
    PrepareAccident(accident, work_);
    const TFolderSnapshot before = SnapshotOf(work_);

    QProcess process;
    process.setWorkingDirectory(Q(work_));
    process.setProcessEnvironment(Isolated(DisplayEnvironment(), tmp_));
    QStringList arguments{"--run", "--modes", "640x480x32", "--accel", "emulation"};
    const auto limit = static_cast<rlim_t>(before.at("Results.bin").size());
    if (accident == TAccident::DiskFull)
        process.setChildProcessModifier([limit] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit small{limit, limit};
            setrlimit(RLIMIT_FSIZE, &small);
        });
    if (accident == TAccident::FolderReadOnly) {
        MakeFolderReadOnly(work_);
        if (const passwd* user = UnprivilegedUser()) {
            const uid_t uid = user->pw_uid;
            const gid_t gid = user->pw_gid;
            process.setChildProcessModifier([uid, gid] {
                if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                    _exit(126);
            });
        }
    }
    // The folder is taken by another copy while the second of two passes runs: the start-up
    // read the file freely, the save at the end finds it held.
    if (accident == TAccident::FolderLocked)
        arguments[2] = QStringLiteral("640x480x16,640x480x32");

    process.start(QStringLiteral(STENDO_PROGRAM), arguments);
    ASSERT_TRUE(process.waitForStarted(10000));
    std::optional<FolderLockHolder> holder;
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < 240000) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
        if (accident == TAccident::FolderLocked && !holder && out.contains('\n'))
            holder.emplace(work_);
    }
    ASSERT_EQ(process.state(), QProcess::NotRunning) << "the program did not end";
    out += process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    holder.reset();
    MakeFolderWritable(work_);

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), expected.ExitCode) << err.toStdString();
    EXPECT_TRUE(err.contains(expected.Says)) << err.toStdString();
    // A file refused at start is left before any pass runs.
    EXPECT_EQ(out.isEmpty(), expected.ExitCode == 2) << out.toStdString();
    if (expected.ExitCode == 2) {
        EXPECT_EQ(SnapshotOf(work_), before);
    } else {
        ExpectFolderAfter(accident, work_, before);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RunAccident, testing::ValuesIn(AccidentCases), AccidentCaseName);

} // namespace
