// The server program as a client meets it: a real process on a real socket, with a real
// database; the page in a real headless Chromium.
#include "ServerFixture.h"

#include "chart/ChartPainter.h"
#include "chart/StoreChart.h"
#include "state/RecordColumns.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextDocumentFragment>
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
    EXPECT_EQ(response->status, 413);
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

} // namespace
