// The server program as a client meets it: a real process on a real socket, with a real
// database; the page in a real headless Chromium.
#include "ServerFixture.h"
#include "SlowClients.h"

#include "chart/ChartPainter.h"
#include "chart/StoreChart.h"
#include "state/RecordColumns.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>
#include <unistd.h>

namespace {

// The fields of an exported result that make its test configuration, and its date.
TResultRecord ResultKeyOf(const QJsonObject& row) {
    TResultRecord result{};
    result.Timestamp = row["timestamp"].toDouble(std::numeric_limits<double>::quiet_NaN());
    result.TestSet = static_cast<std::uint8_t>(row["test_set"].toInt());
    result.Width = static_cast<std::uint16_t>(row["width"].toInt());
    result.Height = static_cast<std::uint16_t>(row["height"].toInt());
    result.Depth = static_cast<std::uint16_t>(row["depth"].toInt());
    result.HardwareDevice = static_cast<std::uint8_t>(row["hardware_device"].toInt());
    result.HardwareVertexProcessing =
        static_cast<std::uint8_t>(row["hardware_vertex_processing"].toInt());
    result.VertexBufferMode = static_cast<std::uint8_t>(row["vertex_buffer_mode"].toInt());
    result.TextureMode = static_cast<std::uint8_t>(row["texture_mode"].toInt());
    result.DetailLevel = static_cast<std::uint8_t>(row["detail_level"].toInt());
    return result;
}

// What the server answers to bytes sent as they are, without any body that the request
// announces: everything it writes until it closes, or until the time is up.
std::string RawExchange(const ServerProcess& server, const std::string& request,
                        std::chrono::seconds time = std::chrono::seconds(10)) {
    const int fd = slow_clients::Connect("127.0.0.1", server.Host(), server.Port());
    if (fd < 0)
        return {};
    pollfd writable{fd, POLLOUT, 0};
    poll(&writable, 1, 5000);
    slow_clients::Send(fd, request);
    std::string answer;
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0)
            continue;
        char bytes[4096];
        const ssize_t got = recv(fd, bytes, sizeof bytes, 0);
        if (got <= 0)
            break;
        answer.append(bytes, static_cast<std::size_t>(got));
    }
    close(fd);
    return answer;
}

class ServerProcessTest : public testing::Test {
protected:
    void TearDown() override {
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
        CurrentComputerIndex = 0;
    }
    static httplib::Client Client(const ServerProcess& server) {
        httplib::Client client(server.Host(), server.Port());
        client.set_read_timeout(60, 0);
        client.set_write_timeout(60, 0);
        return client;
    }
    static int Upload(const ServerProcess& server, const std::vector<std::uint8_t>& file) {
        auto client = Client(server);
        const auto response = client.Post("/api/results", std::string(file.begin(), file.end()),
                                          "application/octet-stream");
        return response ? response->status : -1;
    }
    static QJsonObject GetJson(const ServerProcess& server, const std::string& path) {
        auto client = Client(server);
        const auto response = client.Get(path);
        if (!response || response->status != 200)
            return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(response->body)).object();
    }
};

TEST_F(ServerProcessTest, RefusesToRunAsRootAndExplainsItsOptions) {
    QProcess help;
    help.start(QString::fromStdString(ServerProgram()), {"--help"});
    ASSERT_TRUE(help.waitForFinished());
    EXPECT_EQ(help.exitCode(), 0);
    const QString usage = QString::fromUtf8(help.readAllStandardOutput());
    for (const char* option : {"--listen", "--database", "--uploads-per-minute"})
        EXPECT_TRUE(usage.contains(option)) << option;

    QProcess wrong;
    wrong.start(QString::fromStdString(ServerProgram()), {"--listen", "nowhere"});
    ASSERT_TRUE(wrong.waitForFinished());
    EXPECT_EQ(wrong.exitCode(), 2);

    if (geteuid() != 0)
        GTEST_SKIP() << "not run as root: the refusal of root cannot be seen";
    QProcess root;
    root.start(QString::fromStdString(ServerProgram()),
               {"--database", QString::fromStdString(SharedCluster().NewDatabase())});
    ASSERT_TRUE(root.waitForFinished());
    EXPECT_EQ(root.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(root.readAllStandardError()).contains("root"));
}

TEST_F(ServerProcessTest, ABodyOverTheBoundIsRefusedWithoutBeingStored) {
    TestServer server(SharedCluster().NewDatabase());
    auto client = Client(server);
    const std::string tooLarge(64 * 1024 * 1024 + 1, '\0');
    const auto response = client.Post("/api/results", tooLarge, "application/octet-stream");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 413) << response->body;
    EXPECT_EQ(GetJson(server, "/api/ranking")["total"].toInt(-1), 0);
    // A database that cannot be reached: the server says so and does not start.
    QProcess unreachable;
    QStringList command = ServerUserPrefix();
    command << QString::fromStdString(ServerProgram()) << "--database"
            << "host=/nonexistent dbname=none";
    const QString program = command.takeFirst();
    unreachable.start(program, command);
    ASSERT_TRUE(unreachable.waitForFinished(60000));
    EXPECT_EQ(unreachable.exitCode(), 1);
    EXPECT_EQ(server.Stop(), 0) << server.ErrorOutput().toStdString();
}

TEST_F(ServerProcessTest, EightClientsUploadingAtOnceLoseNothing) {
    TestServer server(SharedCluster().NewDatabase(), {"--uploads-per-minute", "100"});
    // Eight files of 40 computers each; all of them also hold one shared computer, each file
    // with a result of its own for it and one result every file has, dated by the file.
    const TComputerRecord shared = TestComputer("Общий компьютер", "Общий адаптер");
    std::vector<TTestStore> files;
    for (int f = 0; f < 8; ++f) {
        TTestStore file = VariedStore(40, 100 + static_cast<unsigned>(f), "c" + std::to_string(f));
        file.Add(shared, {TestResult(45000 + f, ModeSizes[f % 5].Width, ModeSizes[f % 5].Height,
                                     ModeDepths[f / 5], 2, 10.0f + static_cast<float>(f)),
                          TestResult(46000 + f, 1024, 768, 32, 0, 100.0f + static_cast<float>(f))});
        files.push_back(std::move(file));
    }
    std::vector<int> statuses(files.size());
    std::vector<std::thread> clients;
    for (std::size_t f = 0; f < files.size(); ++f)
        clients.emplace_back([&, f] { statuses[f] = Upload(server, files[f].File()); });
    for (std::thread& client : clients)
        client.join();
    for (std::size_t f = 0; f < files.size(); ++f)
        EXPECT_EQ(statuses[f], 200) << "client " << f;

    // Whatever order the uploads took, every computer is there once with every result, the
    // latest one of each configuration.
    TTestStore reference;
    for (const TTestStore& file : files)
        reference.Merge(file.File());
    std::map<std::string, std::vector<TResultRecord>> expected;
    for (std::size_t i = 0; i < reference.Computers.size(); ++i)
        expected[ReadableText(reference.Computers[i].Processor).toStdString()] =
            reference.Results[i];
    std::map<std::string, std::vector<TResultRecord>> stored;
    for (int id = 1; id <= 400; ++id) {
        const QJsonObject computer = GetJson(server, "/api/computers/" + std::to_string(id));
        if (computer.isEmpty())
            continue;
        auto& results = stored[computer["processor"].toString().toStdString()];
        for (const QJsonValue& row : computer["results"].toArray())
            results.push_back(ResultKeyOf(row.toObject()));
    }
    ASSERT_EQ(stored.size(), expected.size());
    for (const auto& [processor, results] : expected) {
        SCOPED_TRACE(processor);
        const auto& got = stored[processor];
        ASSERT_EQ(got.size(), results.size());
        for (const TResultRecord& want : results) {
            const auto same = std::find_if(got.begin(), got.end(), [&](const TResultRecord& r) {
                return SameResultKey(r, want) &&
                       (r.Timestamp == want.Timestamp ||
                        (std::isnan(r.Timestamp) && std::isnan(want.Timestamp)));
            });
            EXPECT_NE(same, got.end()) << want.Width << "x" << want.Height << "x" << want.Depth;
        }
    }
    EXPECT_EQ(server.Stop(), 0) << server.ErrorOutput().toStdString();
}

TEST_F(ServerProcessTest, ChartPicturesArePixelForPixelTheResultsWindows) {
    TestServer server(SharedCluster().NewDatabase());
    TTestStore reference;
    const auto file = VariedStore(45, 31, "p").File();
    reference.Merge(file);
    ASSERT_EQ(Upload(server, file), 200);
    Computers = reference.Computers;
    ComputerDevices = reference.Devices;
    ComputerResults = reference.Results;
    CurrentComputerIndex = -1;
    std::memset(ModeAvailable, 0, sizeof ModeAvailable);

    const auto fetch = [&](const std::string& path) {
        auto client = Client(server);
        const auto response = client.Get(path);
        EXPECT_TRUE(response && response->status == 200) << path;
        QImage image;
        if (response)
            image.loadFromData(QByteArray::fromStdString(response->body), "PNG");
        return image.convertToFormat(QImage::Format_RGB32);
    };
    const char* filter[] = {"any", "hw", "sw", "emulation"};
    struct Rows {
        int First, Count;
    };
    for (int accel = 0; accel < 4; ++accel)
        for (const Rows rows : {Rows{1, 20}, Rows{5, 7}, Rows{18, 100}}) {
            SCOPED_TRACE(std::string(filter[accel]) + " " + std::to_string(rows.First));
            // The window's chart of the whole store, cut to those entries as --rows cuts it.
            TChartLayout window = MakeChartLayout({0, 0, accel});
            if (rows.First > static_cast<int>(window.Entries.size()))
                continue;
            const auto begin = window.Entries.begin() + (rows.First - 1);
            window.Entries.assign(begin,
                                  begin + std::min<long>(rows.Count, window.Entries.end() - begin));
            window.Height = ChartHeight(window);
            const QImage expected = ChartRows(window, 0, window.Height, ",");
            const QImage served =
                fetch("/chart.png?view=all&accel=" + std::string(filter[accel]) +
                      "&rows=" + std::to_string(rows.First) + ":" + std::to_string(rows.Count));
            ASSERT_EQ(served.size(), expected.size());
            EXPECT_TRUE(served == expected);
        }
    for (int m : {0, 1, 2, 7}) {
        SCOPED_TRACE(m);
        const TChartLayout window = MakeChartLayout({2, m, 0});
        const QImage served = fetch("/chart.png?view=" + std::to_string(m + 1));
        EXPECT_TRUE(served == ChartRows(window, 0, window.Height, ","));
    }
}

// The cells of the ranking table in a DOM serialised by Chromium, as the text they show.
std::vector<std::vector<QString>> TableRows(const QString& dom) {
    std::vector<std::vector<QString>> rows;
    const QRegularExpression row("<tr data-computer=\"(\\d+)\"[^>]*>(.*?)</tr>",
                                 QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpression cell("<td[^>]*>(.*?)</td>",
                                  QRegularExpression::DotMatchesEverythingOption);
    for (auto r = row.globalMatch(dom); r.hasNext();) {
        const auto match = r.next();
        std::vector<QString> cells{match.captured(1)};
        for (auto c = cell.globalMatch(match.captured(2)); c.hasNext();)
            cells.push_back(QTextDocumentFragment::fromHtml(c.next().captured(1)).toPlainText());
        rows.push_back(cells);
    }
    return rows;
}

QString RunChromium(const QStringList& arguments, const TempDir& profile) {
    QProcess chromium;
    chromium.start(
        STENDO_CHROMIUM,
        QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + QString::fromStdString(profile.path().string())} +
            arguments);
    if (!chromium.waitForFinished(120000)) {
        chromium.kill();
        chromium.waitForFinished();
        return {};
    }
    return QString::fromUtf8(chromium.readAllStandardOutput());
}

TEST_F(ServerProcessTest, ThePageInChromiumShowsTheRankingOfTheJsonWithMarkupAsText) {
    TestServer server(SharedCluster().NewDatabase());
    TTestStore store = VariedStore(30, 41, "d");
    const std::string hostile = "<b id=\"bold\">Жирный</b> & <script>document.title='x'</script>";
    store.Add(TestComputer(hostile, "<img src=x onerror=alert(1)>"),
              {TestResult(45000, 1024, 768, 32, 0, 1000)}); // first place
    ASSERT_EQ(Upload(server, store.File()), 200);

    TempDir profile;
    const char* filter[] = {"any", "hw", "sw", "emulation"};
    for (int accel = 0; accel < 4; ++accel)
        for (int offset : {0, 20}) {
            const std::string query =
                "accel=" + std::string(filter[accel]) + "&offset=" + std::to_string(offset);
            SCOPED_TRACE(query);
            const QString dom = RunChromium(
                {"--dump-dom", QString::fromStdString(server.Url() + "/?" + query)}, profile);
            ASSERT_FALSE(dom.isEmpty());
            const QJsonArray entries =
                GetJson(server, "/api/ranking?" + query + "&limit=20")["entries"].toArray();
            const auto rows = TableRows(dom);
            ASSERT_EQ(rows.size(), static_cast<std::size_t>(entries.size()));
            for (std::size_t i = 0; i < rows.size(); ++i) {
                const QJsonObject entry = entries[static_cast<qsizetype>(i)].toObject();
                const auto& cells = rows[i];
                ASSERT_EQ(cells.size(), 8u);
                EXPECT_EQ(cells[0].toLongLong(), entry["computer"].toInteger());
                EXPECT_EQ(cells[1].toLongLong(), entry["rank"].toInteger());
                EXPECT_EQ(cells[2], entry["processor"].toString());
                EXPECT_EQ(cells[3], entry["video_adapter"].toString());
                EXPECT_EQ(cells[4], entry["heading"].toString());
                EXPECT_EQ(cells[5], QString("%1 × %2, %3 бит")
                                        .arg(entry["width"].toInt())
                                        .arg(entry["height"].toInt())
                                        .arg(entry["depth"].toInt()));
                EXPECT_EQ(cells[6], ChartNumberText(entry["triangles_per_ms"].toDouble(
                                                        std::numeric_limits<double>::quiet_NaN()),
                                                    ","));
            }
            if (accel <= 1 && offset == 0) {
                // The hostile computer is on the first page: its texts are shown as the text
                // they are, and none of its markup became an element or ran.
                const auto hostileRow = std::find_if(rows.begin(), rows.end(),
                                                     [](const auto& r) { return r[0] == "31"; });
                ASSERT_NE(hostileRow, rows.end());
                EXPECT_EQ((*hostileRow)[2], QString::fromStdString(hostile));
                EXPECT_EQ((*hostileRow)[3], "<img src=x onerror=alert(1)>");
                EXPECT_FALSE(dom.contains("<b id=\"bold\">"));
                EXPECT_FALSE(dom.contains("<img src=\"x\""));
                EXPECT_TRUE(dom.contains("<title>Стендограф: результаты</title>"));
            }
        }

    // The view of a computer, reached by the table's link.
    const QString dom = RunChromium(
        {"--dump-dom", QString::fromStdString(server.Url() + "/computers/31")}, profile);
    EXPECT_TRUE(dom.contains("&lt;b id=\"bold\"&gt;Жирный&lt;/b&gt;")) << dom.toStdString();
    EXPECT_TRUE(dom.contains("src=\"/chart.png?view=31\""));
}

TEST_F(ServerProcessTest, BodiesPastTheBoundAreRefusedBeforeTheyAreHeld) {
    TestServer server(SharedCluster().NewDatabase());
    const double peakBefore = ProcessMemory(server.ProcessId()).second;

    // A length past the bound: refused from the header, nothing of the body sent.
    const std::string told = RawExchange(server, "POST /api/results HTTP/1.1\r\nHost: x\r\n"
                                                 "Content-Length: 134217728\r\n\r\n");
    EXPECT_TRUE(told.starts_with("HTTP/1.1 413 ")) << told;

    // A chunked body of 128 MiB, sent a MiB at a time: the refusal comes once the bound is
    // reached, while the client is still sending.
    const TFloodAnswer flood = SendChunkedUpload(server.Host(), server.Port(), 128u << 20);
    EXPECT_TRUE(flood.Answer.starts_with("HTTP/1.1 413 ")) << flood.Answer;
    EXPECT_LT(flood.BodySent, 96u << 20) << "the server read far past its bound";

    // A gzip body that would inflate to 256 MiB (16 members of 16 MiB each): refused from its
    // header.
    auto client = Client(server);
    QProcess gzip;
    gzip.start("sh", {"-c", "head -c 16777216 /dev/zero | gzip -9"});
    ASSERT_TRUE(gzip.waitForFinished(60000));
    const QByteArray bomb = gzip.readAllStandardOutput().repeated(16);
    ASSERT_LT(bomb.size(), 300 * 1024);
    const auto inflated = client.Post("/api/results", {{"Content-Encoding", "gzip"}},
                                      bomb.toStdString(), "application/octet-stream");
    ASSERT_TRUE(inflated);
    EXPECT_EQ(inflated->status, 415);

    // curl's plain --data-binary (a form's content type) of a real file is a results file.
    TempDir folder;
    const auto file = VariedStore(6, 91, "c").File();
    {
        std::ofstream out(folder / "Results.bin", std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
    }
    QProcess curl;
    curl.start("curl", {"-s", "--data-binary",
                        "@" + QString::fromStdString((folder / "Results.bin").string()),
                        QString::fromStdString(server.Url() + "/api/results")});
    ASSERT_TRUE(curl.waitForFinished(60000));
    const QJsonObject taken = QJsonDocument::fromJson(curl.readAllStandardOutput()).object();
    EXPECT_EQ(taken["computers_added"].toInt(), 6) << QJsonDocument(taken).toJson().toStdString();

    std::printf("server memory at its peak: %.1f MB before, %.1f MB after the refusals\n",
                peakBefore, ProcessMemory(server.ProcessId()).second);
    EXPECT_EQ(server.Stop(), 0) << server.ErrorOutput().toStdString();

    // Past the address's uploads (one a minute here), the next is refused from its header.
    TestServer limited(SharedCluster().NewDatabase(), {"--uploads-per-minute", "1"});
    ASSERT_EQ(Upload(limited, file), 200);
    const std::string refused = RawExchange(limited, "POST /api/results HTTP/1.1\r\nHost: x\r\n"
                                                     "Content-Length: 60000000\r\n\r\n");
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 429 ")) << refused;
    EXPECT_NE(refused.find("Retry-After: "), std::string::npos) << refused;
    EXPECT_EQ(limited.Stop(), 0) << limited.ErrorOutput().toStdString();
}

TEST_F(ServerProcessTest, SlowClientsFromSeveralAddressesLeaveTheRankingAnswered) {
    TestServer server(SharedCluster().NewDatabase());
    ASSERT_EQ(Upload(server, VariedStore(30, 93, "s").File()), 200);
    // 200 connections from four addresses for 20 s, each trickling a byte a second.
    const TSlowClientFigures figures =
        RunSlowClients(server.Host(), server.Port(), 200, 4, std::chrono::seconds(20));
    std::printf("ranking under 200 slow clients: %d requests, %d not answered, p50 %.1f ms, "
                "p99 %.1f ms; %d slow connections opened, %d dropped by the server, at most %d "
                "open at once, the longest a header took %.1f s\n",
                figures.NormalRequests, figures.NormalFailures,
                PercentileOf(figures.LatenciesMs, 0.5), PercentileOf(figures.LatenciesMs, 0.99),
                figures.SlowConnects, figures.SlowDropped, figures.MostSlowOpen,
                figures.LongestHeaderSeconds);
    EXPECT_GT(figures.NormalRequests, 20);
    EXPECT_EQ(figures.NormalFailures, 0);
    // An address keeps at most 32 connections, and no request's header lasts past its
    // deadline, whatever the pace of its bytes.
    EXPECT_GT(figures.SlowDropped, 200 - 4 * 32);
    EXPECT_LT(figures.LongestHeaderSeconds, 15.0);
    EXPECT_EQ(server.Stop(), 0) << server.ErrorOutput().toStdString();
}

TEST_F(ServerProcessTest, TwoUploadsOfTheSameComputersInOppositeOrdersBothSucceed) {
    TestServer server(SharedCluster().NewDatabase());
    TTestStore forward = VariedStore(400, 95, "o");
    TTestStore backward;
    for (std::size_t i = forward.Computers.size(); i-- > 0;)
        backward.Add(forward.Computers[i], forward.Results[i], forward.Devices[i]);
    int statuses[2] = {0, 0};
    std::thread other([&] { statuses[1] = Upload(server, backward.File()); });
    statuses[0] = Upload(server, forward.File());
    other.join();
    EXPECT_EQ(statuses[0], 200);
    EXPECT_EQ(statuses[1], 200);
    // Every computer once, numbered in the order of the file stored first.
    const QJsonObject last = GetJson(server, "/api/computers/400");
    EXPECT_FALSE(last.isEmpty());
    EXPECT_TRUE(GetJson(server, "/api/computers/401").isEmpty());
    EXPECT_EQ(server.Stop(), 0) << server.ErrorOutput().toStdString();
}

TEST_F(ServerProcessTest, EveryAnswerGuardsThePageAndTheDatabaseIsNeverExposed) {
    TestServer server(SharedCluster().NewDatabase());
    TTestStore store;
    store.Add(TestComputer("Процессор", "Адаптер"), {TestResult(45000, 1024, 768, 32, 0, 100)});
    ASSERT_EQ(Upload(server, store.File()), 200);
    auto client = Client(server);
    for (const char* path :
         {"/", "/api/ranking", "/chart.png", "/computers/1", "/api/computers/1", "/nowhere"}) {
        const auto response = client.Get(path);
        ASSERT_TRUE(response) << path;
        EXPECT_EQ(response->get_header_value("X-Content-Type-Options"), "nosniff") << path;
        EXPECT_EQ(response->get_header_value("X-Frame-Options"), "DENY") << path;
        EXPECT_TRUE(
            response->get_header_value("Content-Security-Policy").starts_with("default-src 'none'"))
            << path;
    }
    const std::string refused =
        RawExchange(server, "POST /api/results HTTP/1.1\r\nHost: x\r\nContent-Length: "
                            "99999999999\r\n\r\n");
    EXPECT_NE(refused.find("X-Frame-Options: DENY"), std::string::npos) << refused;
    // The administrator's review from the command line.
    QString output;
    EXPECT_EQ(server.Command({"--review"}, &output), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("No ranking entry waits for review")) << output.toStdString();
    EXPECT_EQ(server.Command({"--reject", "1:hw"}, &output), 0) << output.toStdString();
    EXPECT_EQ(GetJson(server, "/api/ranking?accel=hw&limit=7")["total"].toInt(-1), 0);
    EXPECT_EQ(server.Command({"--accept", "1:emulation"}, &output), 1);
    EXPECT_TRUE(output.contains("no ranking entry 1:emulation")) << output.toStdString();

    // Connections of the pool in use, then the database restarted: while it is away the
    // answer says so plainly (the log has the details); once it is back, no request fails.
    std::vector<std::thread> readers;
    for (int i = 0; i < 30; ++i)
        readers.emplace_back([&] { GetJson(server, "/api/computers/1"); });
    for (std::thread& reader : readers)
        reader.join();
    SharedCluster().Stop();
    const auto away = client.Get("/api/computers/1");
    ASSERT_TRUE(away);
    EXPECT_EQ(away->status, 503);
    EXPECT_EQ(away->body,
              "{\"error\":\"the results database cannot be reached now; try again later\"}");
    SharedCluster().Start();
    for (int i = 0; i < 30; ++i) {
        const auto back = client.Get("/api/computers/1");
        ASSERT_TRUE(back);
        EXPECT_EQ(back->status, 200) << "request " << i << ": " << back->body;
    }
    const int status = server.Stop();
    const QString log = server.ErrorOutput();
    EXPECT_EQ(status, 0) << log.toStdString();
    EXPECT_TRUE(log.contains("GET /api/computers/1: ")) << log.toStdString();
}

TEST_F(ServerProcessTest, ATrustedProxyNamesTheSendersAndIsNotBoundAsOne) {
    TestServer server(SharedCluster().NewDatabase(),
                      {"--trusted-proxy", "127.0.0.1", "--uploads-per-minute", "1"});
    const auto file = VariedStore(2, 97, "p").File();
    const auto upload = [&](const std::string& forwarded) {
        auto client = Client(server);
        const auto response =
            client.Post("/api/results", {{"X-Forwarded-For", forwarded}},
                        std::string(file.begin(), file.end()), "application/octet-stream");
        return response ? response->status : -1;
    };
    EXPECT_EQ(upload("10.0.0.1, 192.0.2.1"), 200);
    EXPECT_EQ(upload("192.0.2.1"), 429);
    EXPECT_EQ(upload("192.0.2.2"), 200);
    // More connections at once than one sender may keep, all from the proxy's address.
    std::vector<int> fds;
    for (int i = 0; i < 40; ++i)
        fds.push_back(slow_clients::Connect("127.0.0.1", server.Host(), server.Port()));
    for (int fd : fds) {
        pollfd writable{fd, POLLOUT, 0};
        poll(&writable, 1, 5000);
        slow_clients::Send(fd, "GET /api/ranking HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    }
    int answered = 0;
    for (int fd : fds) {
        pollfd readable{fd, POLLIN, 0};
        char bytes[16] = {};
        if (poll(&readable, 1, 10000) > 0 && recv(fd, bytes, 12, 0) == 12 &&
            std::string(bytes) == "HTTP/1.1 200")
            ++answered;
        close(fd);
    }
    EXPECT_EQ(answered, 40);
    EXPECT_EQ(server.Stop(), 0) << server.ErrorOutput().toStdString();
}

} // namespace

// A primary and a hot standby streaming from it, each with a server: the one on the standby
// reads there, takes its uploads to the primary, and reads from the primary whenever the
// standby cannot serve.
TEST_F(ServerProcessTest, AServerReadsFromAStreamingStandbyAndFromThePrimaryWhenItCannot) {
    PostgresCluster primary(STENDO_PG_BINDIR, "-c fsync=off");
    primary.CreateDatabase("results");
    const std::unique_ptr<PostgresCluster> standby = primary.Standby();
    TestServer writer(primary.Database("results"));
    TestServer reader(primary.Database("results"),
                      {"--read-database", QString::fromStdString(standby->Database("results"))});
    constexpr auto Deadline = std::chrono::seconds(30);

    // Each page asked for once (a limit of its own), so that no kept answer hides where it
    // was read.
    int limit = 10;
    const auto total = [&](const ServerProcess& server) {
        return GetJson(server, "/api/ranking?limit=" + std::to_string(++limit))["total"].toInt(-1);
    };
    const auto waitForTotal = [&](const ServerProcess& server, int expected) {
        const auto end = std::chrono::steady_clock::now() + Deadline;
        int seen = total(server);
        while (seen != expected && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            seen = total(server);
        }
        return seen;
    };

    ASSERT_TRUE(reader.WaitForLog("read database 1: reads go there", Deadline))
        << reader.ErrorOutput().toStdString();
    const TTestStore first = VariedStore(30, 7, "r");
    ASSERT_EQ(Upload(writer, first.File()), 200);
    const int firstEntries = total(writer);
    ASSERT_GT(firstEntries, 30);
    // The standby replays the upload within its lag; the reader shows it from there.
    EXPECT_EQ(waitForTotal(reader, firstEntries), firstEntries);

    // An upload to the reader goes to the primary, and the reader reads it back at once, from
    // whichever database holds it.
    TTestStore second;
    second.Add(TestComputer("Второй", "Второй адаптер"), {TestResult(45000, 1024, 768, 32, 0, 5)});
    ASSERT_EQ(Upload(reader, second.File()), 200);
    EXPECT_EQ(total(reader), firstEntries + 1);
    EXPECT_EQ(total(writer), firstEntries + 1);

    // The standby stopped: the reader answers every request, from the primary, and says why.
    const qsizetype logBefore = reader.ErrorOutput().size();
    standby->Stop();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(total(reader), firstEntries + 1) << i;
    EXPECT_FALSE(GetJson(reader, "/api/computers/31").isEmpty());
    EXPECT_TRUE(reader.WaitForLog("reads go to the primary", Deadline, logBefore))
        << reader.ErrorOutput().toStdString();

    // Back, it catches up; promoted, it is a primary of its own that takes uploads, and the
    // reader no longer takes it for a replica of its primary.
    standby->Start();
    standby->Promote();
    ASSERT_TRUE(reader.WaitForLog("it is no replica", Deadline))
        << reader.ErrorOutput().toStdString();
    TestServer promoted(standby->Database("results"));
    TTestStore third;
    third.Add(TestComputer("Третий", "Третий адаптер"), {TestResult(45000, 1024, 768, 32, 0, 7)});
    ASSERT_EQ(Upload(promoted, third.File()), 200);
    EXPECT_EQ(total(promoted), firstEntries + 2);
    EXPECT_EQ(total(reader), firstEntries + 1);
    EXPECT_EQ(total(writer), firstEntries + 1);

    EXPECT_EQ(promoted.Stop(), 0) << promoted.ErrorOutput().toStdString();
    EXPECT_EQ(reader.Stop(), 0) << reader.ErrorOutput().toStdString();
    EXPECT_EQ(writer.Stop(), 0) << writer.ErrorOutput().toStdString();
}
