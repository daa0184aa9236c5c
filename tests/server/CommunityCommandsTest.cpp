// stendograph --publish and --fetch against the real server: the answers, the refusals, and
// Community.bin kept whole or not at all.
#include "ServerFixture.h"

#include "mainwin/MergeOffer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

namespace {

struct CommandRun {
    int ExitCode = -1;
    QString Out, Err;
};

// The program in folder; with fileSizeLimit, as on a disk with that little room left.
CommandRun Stendograph(const QStringList& arguments, const std::filesystem::path& folder,
                       rlim_t fileSizeLimit = RLIM_INFINITY) {
    QProcess process;
    process.setWorkingDirectory(QString::fromStdString(folder.string()));
    process.setChildProcessModifier([fileSizeLimit] {
        if (fileSizeLimit == RLIM_INFINITY)
            return;
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(STENDO_PROGRAM, arguments);
    CommandRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TEST(CommunityCommands, PublishSendsTheFileAndSaysWhatTheServerAnswered) {
    TestServer server(SharedCluster().NewDatabase());
    TempDir folder;
    WriteFile(folder / "Results.bin", VariedStore(5, 51, "u").File());

    const CommandRun published =
        Stendograph({"--publish", QString::fromStdString(server.Url() + "/")}, folder.path());
    EXPECT_EQ(published.ExitCode, 0) << published.Err.toStdString();
    const QJsonObject answer = QJsonDocument::fromJson(published.Out.trimmed().toUtf8()).object();
    EXPECT_EQ(answer["computers_added"].toInt(), 5) << published.Out.toStdString();

    // A file of another version: the server takes nothing and the command says why.
    QFile version14(QString(STENDO_FUZZ_CORPUS) + "/version14.bin");
    ASSERT_TRUE(version14.open(QIODevice::ReadOnly));
    const QByteArray old = version14.readAll();
    WriteFile(folder / "Old.bin", std::vector<std::uint8_t>(old.begin(), old.end()));
    const CommandRun refused = Stendograph(
        {"--publish", QString::fromStdString(server.Url()), "--results", "Old.bin"}, folder.path());
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_TRUE(refused.Err.contains("HTTP status 400")) << refused.Err.toStdString();
    EXPECT_TRUE(refused.Out.contains("results of version 1.4")) << refused.Out.toStdString();

    const CommandRun missing =
        Stendograph({"--publish", QString::fromStdString(server.Url()), "--results", "None.bin"},
                    folder.path());
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_TRUE(missing.Err.contains("None.bin")) << missing.Err.toStdString();

    const std::string address = server.Url();
    EXPECT_EQ(server.Stop(), 0);
    const CommandRun unreachable =
        Stendograph({"--publish", QString::fromStdString(address)}, folder.path());
    EXPECT_EQ(unreachable.ExitCode, 1);
    EXPECT_TRUE(unreachable.Err.contains("could not be reached")) << unreachable.Err.toStdString();
}

TEST(CommunityCommands, FetchKeepsCommunityBinWholeOrNotAtAll) {
    TestServer server(SharedCluster().NewDatabase());
    TTestStore uploaded;
    uploaded.Merge(VariedStore(25, 61, "f").File());
    TempDir folder;
    WriteFile(folder / "Results.bin", uploaded.File());
    ASSERT_EQ(
        Stendograph({"--publish", QString::fromStdString(server.Url())}, folder.path()).ExitCode,
        0);
    std::filesystem::remove(folder / "Results.bin");
    const QString url = QString::fromStdString(server.Url());

    const CommandRun fetched =
        Stendograph({"--fetch", url, "--accel", "sw", "--top", "4"}, folder.path());
    ASSERT_EQ(fetched.ExitCode, 0) << fetched.Err.toStdString();
    EXPECT_TRUE(fetched.Out.startsWith("Community.bin: 4 computers from"))
        << fetched.Out.toStdString();
    TTestStore community;
    const TMergeReport report = community.Merge(ReadFile(folder / "Community.bin"));
    EXPECT_EQ(report.Outcome, TMergeOutcome::Merged);
    EXPECT_EQ(community.Computers.size(), 4u);
    // The next start of the windows offers it for merging.
    EXPECT_EQ(OtherResultsFiles(folder.path()), std::vector<std::string>{"Community.bin"});

    // A full disk, an unreachable server and a refusal each leave the file as it was.
    const auto before = ReadFile(folder / "Community.bin");
    const CommandRun full = Stendograph({"--fetch", url, "--top", "20"}, folder.path(), 4096);
    EXPECT_EQ(full.ExitCode, 1);
    // One line that says what failed, in the system's words, and nothing of the toolkit's.
    EXPECT_EQ(full.Err, "stendograph: writing Community.bin failed: File too large; an earlier "
                        "Community.bin is left as it was\n");
    const CommandRun refused = Stendograph({"--fetch", url + "/nowhere"}, folder.path());
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_TRUE(refused.Err.contains("HTTP status 404")) << refused.Err.toStdString();
    EXPECT_EQ(server.Stop(), 0);
    const CommandRun unreachable = Stendograph({"--fetch", url}, folder.path());
    EXPECT_EQ(unreachable.ExitCode, 1);
    EXPECT_EQ(ReadFile(folder / "Community.bin"), before);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"Community.bin"}); // no temporary file left behind
}

} // namespace
