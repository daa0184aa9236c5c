// stendograph --publish and --fetch against the real server: the answers, the refusals, and
// Community.bin kept whole or not at all.
#include "ServerFixture.h"

#include "mainwin/MergeOffer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <chrono>
#include <thread>

namespace {

struct CommandRun {
    int ExitCode = -1;
    QString Out, Err;
};

// The program in folder, its configuration folder config/ there unless another one is given;
// with fileSizeLimit, as on a disk with that little room left.
CommandRun Stendograph(const QStringList& arguments, const std::filesystem::path& folder,
                       rlim_t fileSizeLimit = RLIM_INFINITY,
                       std::filesystem::path configFolder = {}) {
    QProcess process;
    process.setWorkingDirectory(QString::fromStdString(folder.string()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        "XDG_CONFIG_HOME",
        QString::fromStdString((configFolder.empty() ? folder / "config" : configFolder).string()));
    process.setProcessEnvironment(environment);
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

QJsonObject Answer(const CommandRun& run) {
    return QJsonDocument::fromJson(run.Out.trimmed().toUtf8()).object();
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
    EXPECT_EQ(left, (std::vector<std::string>{"Community.bin", "config"})); // nothing else
}

// The server's view of one computer.
QJsonObject StoredComputer(const ServerProcess& server, int id) {
    httplib::Client client(server.Host(), server.Port());
    const auto response = client.Get("/api/computers/" + std::to_string(id));
    return response ? QJsonDocument::fromJson(QByteArray::fromStdString(response->body)).object()
                    : QJsonObject();
}

TEST(CommunityCommands, AComputerStaysWithTheKeyThatPublishedItAndItsOwnerIsNotShown) {
    TestServer server(SharedCluster().NewDatabase());
    const QString url = QString::fromStdString(server.Url());
    TempDir alice, mallory;
    TTestStore store;
    store.Add(TestComputer("Компьютер Алисы", "Адаптер"),
              {TestResult(45000, 1024, 768, 32, 0, 400)});
    WriteFile(alice / "Results.bin", store.File());

    const CommandRun first = Stendograph({"--publish", url}, alice.path());
    ASSERT_EQ(first.ExitCode, 0) << first.Err.toStdString();
    EXPECT_EQ(Answer(first)["computers_added"].toInt(), 1);
    // The key: made on first use, the user's alone, and the same at the next publish.
    const auto keyFile = alice / "config" / "Стендограф" / "publisher-key";
    const auto key = ReadFile(keyFile);
    ASSERT_EQ(key.size(), 65u);
    EXPECT_EQ(std::filesystem::status(keyFile).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // The owner field stays home.
    EXPECT_EQ(StoredComputer(server, 1)["owner"].toString(), "");
    EXPECT_EQ(StoredComputer(server, 1)["processor"].toString(), "Компьютер Алисы");

    // Someone else copies the file and publishes a later, poorer result of the computer: the
    // server changes nothing and says so.
    TTestStore forged;
    forged.Add(TestComputer("Компьютер Алисы", "Адаптер"),
               {TestResult(46000, 1024, 768, 32, 0, 0.5f)});
    WriteFile(mallory / "Results.bin", forged.File());
    const CommandRun takeover = Stendograph({"--publish", url}, mallory.path());
    EXPECT_EQ(takeover.ExitCode, 0) << takeover.Err.toStdString();
    EXPECT_EQ(Answer(takeover)["computers_not_yours"].toInt(), 1) << takeover.Out.toStdString();
    EXPECT_TRUE(takeover.Err.contains("another publisher key")) << takeover.Err.toStdString();
    EXPECT_EQ(
        StoredComputer(server, 1)["results"].toArray()[0].toObject()["triangles_per_ms"].toDouble(),
        400);
    // Its publisher may.
    WriteFile(alice / "Results.bin", forged.File());
    const CommandRun own = Stendograph({"--publish", url}, alice.path());
    EXPECT_EQ(Answer(own)["results_replaced"].toInt(), 1) << own.Out.toStdString();
    EXPECT_EQ(ReadFile(keyFile), key);

    // With --with-owner the field is published; the record differs, so it is another computer.
    const CommandRun withOwner = Stendograph({"--publish", url, "--with-owner"}, alice.path());
    EXPECT_EQ(Answer(withOwner)["computers_added"].toInt(), 1) << withOwner.Out.toStdString();
    EXPECT_EQ(StoredComputer(server, 2)["owner"].toString(), "Иван Петров");
    EXPECT_EQ(Stendograph({"--export", "csv", "--with-owner"}, alice.path()).ExitCode, 2);

    // A key others may read is refused, and nothing is sent.
    std::filesystem::permissions(keyFile, std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    const CommandRun exposed = Stendograph({"--publish", url}, alice.path());
    EXPECT_EQ(exposed.ExitCode, 2);
    EXPECT_TRUE(exposed.Err.contains("chmod 600")) << exposed.Err.toStdString();
    EXPECT_EQ(exposed.Out, "");
}

TEST(CommunityCommands, TwoCopiesPublishingAtOnceMakeOneKey) {
    TestServer server(SharedCluster().NewDatabase());
    const QString url = QString::fromStdString(server.Url());
    TempDir config, one, two;
    WriteFile(one / "Results.bin", VariedStore(3, 81, "k").File());
    WriteFile(two / "Results.bin", VariedStore(3, 82, "l").File());
    CommandRun runs[2];
    std::thread other([&] {
        runs[1] = Stendograph({"--publish", url}, two.path(), RLIM_INFINITY, config.path());
    });
    runs[0] = Stendograph({"--publish", url}, one.path(), RLIM_INFINITY, config.path());
    other.join();
    for (const CommandRun& run : runs)
        EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(config / "Стендограф"))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"publisher-key"}); // no temporary file either
    // Both published with that key: either file, changed, is taken from either folder.
    TTestStore changed;
    changed.Merge(VariedStore(3, 82, "l").File());
    for (auto& results : changed.Results)
        for (TResultRecord& result : results)
            result.Timestamp += 1;
    WriteFile(one / "Results.bin", changed.File());
    const CommandRun again =
        Stendograph({"--publish", url}, one.path(), RLIM_INFINITY, config.path());
    EXPECT_EQ(Answer(again)["computers_not_yours"].toInt(), 0) << again.Out.toStdString();
    EXPECT_GT(Answer(again)["results_replaced"].toInt(), 0) << again.Out.toStdString();
}

} // namespace

namespace {

// A server of the test's own on the loopback that answers every GET with body, as a results
// server that holds records the program does not believe would (an older one, or one whose
// clock runs ahead).
class FixedAnswerServer {
public:
    explicit FixedAnswerServer(std::string body) : body_(std::move(body)) {
        server_.Get(".*", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(body_, "application/octet-stream");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~FixedAnswerServer() {
        server_.stop();
        thread_.join();
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port_); }

private:
    std::string body_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

} // namespace

// --fetch keeps only the records the program's reader believes: Community.bin is a file the
// reader takes whole, and standard error names what was left out and why.
TEST(CommunityCommands, FetchKeepsOnlyTheRecordsTheReaderBelieves) {
    TTestStore sent;
    TResultRecord forged = TestResult(46000, 1024, 768, 32, 0, 900);
    forged.RunCount = -2;
    sent.Add(TestComputer("Processor A", "Adapter A"),
             {TestResult(46000, 640, 480, 16, 0, 300), forged}, {Scrambled("  chip")});
    TComputerRecord untagged = TestComputer("Processor B", "Adapter B");
    untagged.RecordTag = Scrambled("2");
    sent.Add(untagged, {TestResult(46000, 640, 480, 16, 0, 400)});
    sent.Add(TestComputer("Processor C", "Adapter C"), {TestResult(46000, 800, 600, 32, 0, 200)});
    const auto bytes = sent.File();
    FixedAnswerServer server(std::string(bytes.begin(), bytes.end()));
    TempDir folder;

    const CommandRun fetched = Stendograph({"--fetch", server.Url()}, folder.path());
    EXPECT_EQ(fetched.ExitCode, 0) << fetched.Err.toStdString();
    EXPECT_TRUE(fetched.Out.startsWith("Community.bin: 2 computers from"))
        << fetched.Out.toStdString();
    EXPECT_TRUE(fetched.Err.contains("the server's file: 1 computer and 2 results left out: they "
                                     "cannot be measurements"))
        << fetched.Err.toStdString();
    EXPECT_TRUE(fetched.Err.contains("result 2 of computer block 1 left out: its run count is not "
                                     "positive"))
        << fetched.Err.toStdString();
    TTestStore community;
    const TMergeReport report = community.Merge(ReadFile(folder / "Community.bin"));
    EXPECT_TRUE(report.TookEverything());
    ASSERT_EQ(community.Computers.size(), 2u);
    EXPECT_EQ(community.Results[0].size(), 1u);
    EXPECT_EQ(community.Results[1].size(), 1u);

    // Its line on a full device: the file is saved, the command fails with the reason.
    std::filesystem::remove(folder / "Community.bin");
    QProcess process;
    process.setWorkingDirectory(QString::fromStdString(folder.path().string()));
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(STENDO_PROGRAM, {"--fetch", server.Url()});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains(
        "the output could not be written: No space left on device"));
    EXPECT_TRUE(std::filesystem::exists(folder / "Community.bin"));
}
