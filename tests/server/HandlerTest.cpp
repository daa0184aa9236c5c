// The server's routes called as plain functions on a real database: what an upload stores,
// the merge rule, hostile files, the ranking against the results window's, the results file.
#include "ServerFixture.h"

#include "chart/StoreChart.h"
#include "server/RequestHandler.h"
#include "server/ResponseCache.h"
#include "server/ServerOptions.h"
#include "state/RecordColumns.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace {

class HandlerTest : public testing::Test {
protected:
    HandlerTest() : database_(SharedCluster().NewDatabase(), 4) {}
    void TearDown() override {
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
        CurrentComputerIndex = 0;
    }

    THttpResponse Request(const std::string& method, const std::string& path,
                          std::map<std::string, std::string> query = {}, std::string body = {}) {
        return HandleRequest({method, path, std::move(query), std::move(body), "192.0.2.7"},
                             context_);
    }
    THttpResponse Upload(const std::vector<std::uint8_t>& file) {
        return Request("POST", "/api/results", {}, std::string(file.begin(), file.end()));
    }
    static QJsonObject Json(const THttpResponse& response) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(response.Body)).object();
    }
    // Every stored computer (ids 1, 2, ...) with its results, as the API gives them.
    TTestStore Stored() {
        TTestStore store;
        for (std::int64_t id = 1;; ++id) {
            const auto computer = database_.Computer(id);
            if (!computer)
                return store;
            store.Add(computer->Computer, computer->Results, computer->Devices);
        }
    }
    // The window's store holds exactly the reference.
    static void ShowInWindowStore(const TTestStore& store) {
        Computers = store.Computers;
        ComputerDevices = store.Devices;
        ComputerResults = store.Results;
        CurrentComputerIndex = -1; // no stored computer is the server's own
        std::memset(ModeAvailable, 0, sizeof ModeAvailable);
    }

    TResultsDatabase database_;
    TUploadLimiter limiter_{100000};
    TResponseCache cache_;
    TServerContext context_{database_, limiter_, cache_};
};

bool SameBytes(const void* a, const void* b, std::size_t size) {
    return std::memcmp(a, b, size) == 0;
}

// The stored computers equal the reference: the same records in the same order, each with the
// same device lines and results in the same order.
void ExpectSameStore(const TTestStore& stored, const TTestStore& reference) {
    ASSERT_EQ(stored.Computers.size(), reference.Computers.size());
    for (std::size_t i = 0; i < reference.Computers.size(); ++i) {
        EXPECT_TRUE(
            SameBytes(&stored.Computers[i], &reference.Computers[i], sizeof(TComputerRecord)))
            << "computer " << i;
        ASSERT_EQ(stored.Devices[i].size(), reference.Devices[i].size()) << "computer " << i;
        for (std::size_t k = 0; k < reference.Devices[i].size(); ++k)
            EXPECT_EQ(stored.Devices[i][k], reference.Devices[i][k]);
        ASSERT_EQ(stored.Results[i].size(), reference.Results[i].size()) << "computer " << i;
        for (std::size_t k = 0; k < reference.Results[i].size(); ++k)
            EXPECT_TRUE(
                SameBytes(&stored.Results[i][k], &reference.Results[i][k], sizeof(TResultRecord)))
                << "computer " << i << " result " << k;
    }
}

TEST_F(HandlerTest, AnUploadedFileReadsBackFieldByFieldAsTheExportWritesIt) {
    TTestStore store;
    store.Add(TestComputer("Intel Pentium 4 (~2400MHz)", "RADEON 9600 <script>", 0),
              {TestResult(45000.5, 1024, 768, 32, 0, 812.5f),
               TestResult(45001.25, 640, 480, 16, 1, 99.75f)},
              {Scrambled("  chip"), Scrambled("Мост PCI")});
    store.Add(TestComputer("Эльбрус-8С", "Встроенный адаптер", 2),
              {TestResult(46000, 800, 600, 32, 2, 3.5f)});
    const THttpResponse response = Upload(store.File());
    ASSERT_EQ(response.Status, 200) << response.Body;
    const QJsonObject outcome = Json(response);
    EXPECT_EQ(outcome["computers_added"].toInt(), 2);
    EXPECT_EQ(outcome["results_added"].toInt(), 3);
    EXPECT_TRUE(outcome["left_out"].toArray().isEmpty());

    for (std::size_t i = 0; i < store.Computers.size(); ++i) {
        const auto id = static_cast<std::int64_t>(i + 1);
        const THttpResponse read = Request("GET", "/api/computers/" + std::to_string(id));
        ASSERT_EQ(read.Status, 200);
        const QJsonObject computer = Json(read);
        const QJsonArray results = computer["results"].toArray();
        ASSERT_EQ(results.size(), static_cast<qsizetype>(store.Results[i].size()));
        for (std::size_t k = 0; k < store.Results[i].size(); ++k) {
            const QJsonObject expected =
                ExportJsonRow(static_cast<std::size_t>(id), store.Computers[i], store.Devices[i],
                              &store.Results[i][k]);
            EXPECT_EQ(results[static_cast<qsizetype>(k)].toObject(), expected)
                << "computer " << i << " result " << k;
        }
        EXPECT_EQ(computer["processor"].toString(), ReadableText(store.Computers[i].Processor));
        EXPECT_EQ(computer["devices"].toArray().size(),
                  static_cast<qsizetype>(store.Devices[i].size()));
    }
    EXPECT_EQ(Request("GET", "/api/computers/3").Status, 404);
    EXPECT_EQ(database_.UploadCount(), 1);
}

TEST_F(HandlerTest, TheMergeRuleIsTheFileMerges) {
    const TComputerRecord a = TestComputer("A", "a"), b = TestComputer("B", "b");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* What;
        std::vector<std::pair<TComputerRecord, std::vector<TResultRecord>>> Second;
        int ComputersAdded, ComputersKnown, ResultsAdded, ResultsReplaced, ResultsNotLater;
    };
    // Every case starts from computer A with a hardware result of 1024 x 768 x 32 at day
    // 45000 and a software one at day 44000.
    const std::vector<Case> cases = {
        {"a new computer", {{b, {TestResult(45000, 1024, 768, 32, 0, 5)}}}, 1, 0, 1, 0, 0},
        {"a new result", {{a, {TestResult(45000, 800, 600, 32, 0, 5)}}}, 0, 1, 1, 0, 0},
        {"a later timestamp", {{a, {TestResult(45001, 1024, 768, 32, 0, 5)}}}, 0, 1, 0, 1, 0},
        {"an earlier timestamp", {{a, {TestResult(44999, 1024, 768, 32, 0, 5)}}}, 0, 1, 0, 0, 1},
        {"the same timestamp", {{a, {TestResult(45000, 1024, 768, 32, 0, 5)}}}, 0, 1, 0, 0, 1},
        {"the same bytes twice", {{a, {TestResult(45000, 1024, 768, 32, 0, 7)}}}, 0, 1, 0, 0, 1},
        {"a later software result", {{a, {TestResult(44001, 1024, 768, 32, 1, 5)}}}, 0, 1, 0, 1, 0},
        {"an undated result is left out",
         {{a, {TestResult(nan, 1024, 768, 32, 0, 5)}}},
         0,
         1,
         0,
         0,
         0},
        {"another refresh rate is the same test",
         {{a, {[] {
               auto r = TestResult(45002, 1024, 768, 32, 0, 5);
               r.RefreshRate = 85;
               return r;
           }()}}},
         0,
         1,
         0,
         1,
         0},
        {"the same file twice",
         {{a, {TestResult(45000, 1024, 768, 32, 0, 7), TestResult(44000, 1024, 768, 32, 1, 6)}}},
         0,
         1,
         0,
         0,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        HandlerTest::TearDown();
        TResultsDatabase database(SharedCluster().NewDatabase(), 2);
        TResponseCache cache;
        TServerContext context{database, limiter_, cache};
        TTestStore first;
        first.Add(a,
                  {TestResult(45000, 1024, 768, 32, 0, 7), TestResult(44000, 1024, 768, 32, 1, 6)});
        TTestStore second;
        for (const auto& [computer, results] : c.Second)
            second.Add(computer, results);

        TTestStore reference;
        reference.Merge(first.File());
        reference.Merge(second.File());
        for (const TTestStore* file : {&first, &second}) {
            const auto bytes = file->File();
            const THttpResponse response = HandleRequest(
                {"POST", "/api/results", {}, std::string(bytes.begin(), bytes.end()), "x"},
                context);
            ASSERT_EQ(response.Status, 200) << response.Body;
            if (file == &second) {
                const QJsonObject outcome = Json(response);
                EXPECT_EQ(outcome["computers_added"].toInt(), c.ComputersAdded);
                EXPECT_EQ(outcome["computers_known"].toInt(), c.ComputersKnown);
                EXPECT_EQ(outcome["results_added"].toInt(), c.ResultsAdded);
                EXPECT_EQ(outcome["results_replaced"].toInt(), c.ResultsReplaced);
                EXPECT_EQ(outcome["results_not_later"].toInt(), c.ResultsNotLater);
            }
        }
        TTestStore stored;
        for (std::int64_t id = 1; auto computer = database.Computer(id); ++id)
            stored.Add(computer->Computer, computer->Results, computer->Devices);
        ExpectSameStore(stored, reference);
    }
}

TEST_F(HandlerTest, EveryCorpusFileAndHostileBytesStoreWhatTheReaderTakes) {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    for (const QString& name : QDir(STENDO_FUZZ_CORPUS).entryList(QDir::Files, QDir::Name)) {
        QFile file(QDir(STENDO_FUZZ_CORPUS).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        files.emplace_back(name.toStdString(),
                           std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    ASSERT_GE(files.size(), 20u);
    // Hostile cases made here: random bytes; a real file cut short, with its size field
    // mended, with a huge line count, and with its counts negative.
    std::mt19937 random(3);
    std::vector<std::uint8_t> noise(5000);
    for (auto& byte : noise)
        byte = static_cast<std::uint8_t>(random());
    files.emplace_back("noise", noise);
    const auto real = VariedStore(3, 5, "h").File();
    auto cut = std::vector<std::uint8_t>(real.begin(), real.begin() + 3000);
    const auto mendSize = [](std::vector<std::uint8_t>& file) {
        const auto size = static_cast<std::int32_t>(file.size());
        std::memcpy(file.data() + file.size() - 4, &size, 4);
    };
    files.emplace_back("cut", cut);
    mendSize(cut);
    files.emplace_back("cut, size mended", cut);
    auto hugeLines = real;
    const std::int32_t huge = 0x7FFFFFFF, negative = -5;
    std::memcpy(hugeLines.data() + ResultsFirstBlockOffset + sizeof(TComputerRecord), &huge, 4);
    files.emplace_back("huge line count", hugeLines);
    auto negativeCount = real;
    std::memcpy(negativeCount.data() + ResultsCountOffset, &negative, 4);
    files.emplace_back("negative computer count", negativeCount);
    files.emplace_back("a real file", real);

    TTestStore reference;
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const TMergeReport report = reference.Merge(bytes);
        const THttpResponse response = Upload(bytes);
        EXPECT_EQ(response.Status, report.BlocksMerged == 0 ? 400 : 200) << response.Body;
        const QJsonObject outcome = Json(response);
        EXPECT_EQ(outcome["blocks_read"].toInt(), report.BlocksMerged);
        // The answer describes the file on its own.
        TTestStore alone;
        EXPECT_EQ(outcome["left_out"].toArray().size(),
                  DescribeMergeReport("Results.bin", alone.Merge(bytes)).size());
    }
    ExpectSameStore(Stored(), reference);
    EXPECT_EQ(database_.UploadCount(), static_cast<std::int64_t>(files.size()));
}

TEST_F(HandlerTest, TheRankingIsTheResultsWindowsForEveryFilterAndPage) {
    TTestStore reference;
    for (unsigned part = 0; part < 3; ++part) {
        const auto file = VariedStore(40, 11 + part, "r" + std::to_string(part)).File();
        reference.Merge(file);
        ASSERT_EQ(Upload(file).Status, 200);
    }
    ShowInWindowStore(reference);
    for (int accel = 0; accel < 4; ++accel) {
        SCOPED_TRACE(accel);
        const std::vector<TChartEntry> window = ChartEntries(accel);
        ASSERT_GT(window.size(), 20u);
        const float windowMax = MakeChartLayout({0, 0, accel}).Max;
        const char* filter[] = {"any", "hw", "sw", "emulation"};
        std::size_t seen = 0;
        for (std::int64_t offset = 0; offset < static_cast<std::int64_t>(window.size());
             offset += 17) {
            const THttpResponse response = Request(
                "GET", "/api/ranking",
                {{"accel", filter[accel]}, {"offset", std::to_string(offset)}, {"limit", "17"}});
            ASSERT_EQ(response.Status, 200) << response.Body;
            const QJsonObject page = Json(response);
            EXPECT_EQ(page["total"].toInteger(), static_cast<qint64>(window.size()));
            EXPECT_EQ(page["max"].toDouble(), static_cast<double>(windowMax));
            for (const QJsonValue& value : page["entries"].toArray()) {
                const QJsonObject entry = value.toObject();
                const TChartEntry& expected = window[seen];
                const auto computer = static_cast<std::size_t>(expected.Computer);
                EXPECT_EQ(entry["rank"].toInteger(), static_cast<qint64>(seen + 1));
                EXPECT_EQ(entry["computer"].toInteger(), expected.Computer + 1) << "rank " << seen;
                EXPECT_EQ(entry["acceleration"].toString(), QString(filter[expected.Kind + 1]))
                    << "rank " << seen;
                const TResultRecord& result =
                    reference.Results[computer][static_cast<std::size_t>(expected.Result)];
                EXPECT_EQ(entry, [&] {
                    QJsonObject object =
                        ExportJsonRow(computer + 1, reference.Computers[computer], {}, &result);
                    object.remove("devices");
                    object.insert("rank", static_cast<qint64>(seen + 1));
                    object.insert("heading", QString::fromUtf8(ChartKinds[expected.Kind].Heading));
                    return object;
                }());
                ++seen;
            }
        }
        EXPECT_EQ(seen, window.size());
    }
}

TEST_F(HandlerTest, TheResultsFileHoldsTheTopComputersWithAllTheirResults) {
    TTestStore reference;
    const auto file = VariedStore(30, 21, "t").File();
    reference.Merge(file);
    ASSERT_EQ(Upload(file).Status, 200);
    ShowInWindowStore(reference);
    const std::vector<TChartEntry> window = ChartEntries(1);
    std::vector<std::int32_t> top; // the first 5 computers of the hardware ranking
    for (const TChartEntry& entry : window)
        if (top.size() < 5 && std::find(top.begin(), top.end(), entry.Computer) == top.end())
            top.push_back(entry.Computer);
    ASSERT_EQ(top.size(), 5u);

    const THttpResponse response = Request("GET", "/Results.bin", {{"accel", "hw"}, {"top", "5"}});
    ASSERT_EQ(response.Status, 200);
    TTestStore downloaded;
    const TMergeReport report =
        downloaded.Merge(std::vector<std::uint8_t>(response.Body.begin(), response.Body.end()));
    EXPECT_EQ(report.Outcome, TMergeOutcome::Merged);
    EXPECT_EQ(report.BytesLeftUnread, 0u);
    TTestStore expected;
    for (std::int32_t m : top) {
        const auto i = static_cast<std::size_t>(m);
        expected.Add(reference.Computers[i], reference.Results[i], reference.Devices[i]);
    }
    ExpectSameStore(downloaded, expected);
}

TEST_F(HandlerTest, WrongRequestsAreRefusedAndSayWhy) {
    ASSERT_EQ(Upload(VariedStore(2, 1, "w").File()).Status, 200);
    struct Case {
        std::string Method, Path;
        std::map<std::string, std::string> Query;
        int Status;
    };
    const std::vector<Case> cases = {
        {"GET", "/api/ranking", {{"accel", "gpu"}}, 400},
        {"GET", "/api/ranking", {{"offset", "-1"}}, 400},
        {"GET", "/api/ranking", {{"limit", "0"}}, 400},
        {"GET", "/api/ranking", {{"limit", "101"}}, 400},
        {"GET", "/api/ranking", {{"limit", "5x"}}, 400},
        {"GET", "/api/computers/0", {}, 404},
        {"GET", "/api/computers/abc", {}, 404},
        {"GET", "/api/computers/99", {}, 404},
        {"GET", "/computers/99", {}, 404},
        {"GET", "/chart.png", {{"rows", "0:5"}}, 400},
        {"GET", "/chart.png", {{"rows", "1:500"}}, 400},
        {"GET", "/chart.png", {{"rows", "99:5"}}, 400},
        {"GET", "/chart.png", {{"view", "1"}, {"accel", "hw"}}, 400},
        {"GET", "/chart.png", {{"view", "x"}}, 400},
        {"GET", "/chart.png", {{"view", "99"}}, 404},
        {"GET", "/Results.bin", {{"top", "0"}}, 400},
        {"GET", "/Results.bin", {{"top", "10001"}}, 400},
        {"GET", "/api/results", {}, 405},
        {"DELETE", "/api/ranking", {}, 405},
        {"GET", "/nowhere", {}, 404},
    };
    for (const Case& c : cases) {
        const THttpResponse response = Request(c.Method, c.Path, c.Query);
        EXPECT_EQ(response.Status, c.Status) << c.Method << " " << c.Path;
        if (response.ContentType.starts_with("text/html"))
            EXPECT_NE(response.Body.find("Компьютер не найден"), std::string::npos);
        else
            EXPECT_FALSE(Json(response)["error"].toString().isEmpty()) << response.Body;
    }
}

TEST_F(HandlerTest, UploadsFromOneAddressAreLimitedAndOthersAreNot) {
    TUploadLimiter limiter(3);
    TServerContext context{database_, limiter, cache_};
    const auto file = VariedStore(1, 2, "l").File();
    const std::string body(file.begin(), file.end());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(HandleRequest({"POST", "/api/results", {}, body, "192.0.2.1"}, context).Status,
                  200);
    const THttpResponse refused =
        HandleRequest({"POST", "/api/results", {}, body, "192.0.2.1"}, context);
    EXPECT_EQ(refused.Status, 429);
    ASSERT_EQ(refused.Headers.size(), 1u);
    EXPECT_EQ(refused.Headers[0].first, "Retry-After");
    const int wait = std::stoi(refused.Headers[0].second); // a token every 20 s at 3 a minute
    EXPECT_GE(wait, 1);
    EXPECT_LE(wait, 20);
    EXPECT_EQ(HandleRequest({"POST", "/api/results", {}, body, "192.0.2.2"}, context).Status, 200);
    EXPECT_EQ(database_.UploadCount(), 4); // the refused one was not read

    // The bucket refills with time.
    const auto now = TUploadLimiter::TClock::now();
    TUploadLimiter timed(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(timed.Allow("a", now));
    EXPECT_FALSE(timed.Allow("a", now + std::chrono::seconds(19)));
    EXPECT_TRUE(timed.Allow("a", now + std::chrono::seconds(21)));
    EXPECT_FALSE(timed.Allow("a", now + std::chrono::seconds(22)));
}

TEST_F(HandlerTest, TheSchemaIsMigratedOnceAndALaterOneIsRefused) {
    const std::string connection = SharedCluster().NewDatabase();
    {
        TResultsDatabase first(connection, 1);
        TResultsDatabase again(connection, 1); // finds it done
        TUploadLimiter limiter(10);
        TResponseCache cache;
        TServerContext context{again, limiter, cache};
        const auto file = VariedStore(2, 4, "m").File();
        EXPECT_EQ(
            HandleRequest({"POST", "/api/results", {}, std::string(file.begin(), file.end()), "a"},
                          context)
                .Status,
            200);
    }
    QString output;
    ASSERT_EQ(RunAsServerUser({QString(STENDO_PG_BINDIR) + "/psql", "-X", "-q", "-d",
                               QString::fromStdString(connection), "-c",
                               "INSERT INTO schema_version (version) VALUES (999)"},
                              &output),
              0)
        << output.toStdString();
    try {
        TResultsDatabase later(connection, 1);
        FAIL() << "a database of a later schema was taken";
    } catch (const TDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("999"), std::string::npos) << error.what();
    }
}

TEST(ServerOptions, ParseAsDocumented) {
    std::string error;
    auto options = ParseServerOptions(
        {"--listen", "[::1]:9000", "--database", "dbname=x", "--uploads-per-minute", "5"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->ListenHost, "::1");
    EXPECT_EQ(options->ListenPort, 9000);
    EXPECT_EQ(options->Database, "dbname=x");
    EXPECT_EQ(options->UploadsPerMinute, 5);
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--listen", "127.0.0.1"},
                                                  {"--listen", "127.0.0.1:70000"},
                                                  {"--listen", ":80"},
                                                  {"--database"},
                                                  {"--uploads-per-minute", "0"},
                                                  {"--port", "1"}}) {
        error.clear();
        EXPECT_FALSE(ParseServerOptions(wrong, &error)) << wrong[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace

namespace {

TEST_F(HandlerTest, AKeptRankingAnswerIsNeverOlderThanTheLastUpload) {
    ASSERT_EQ(Upload(VariedStore(10, 71, "k").File()).Status, 200);
    const auto first = [&](const char* accel) {
        return Json(Request("GET", "/api/ranking", {{"accel", accel}, {"limit", "1"}}))["entries"]
            .toArray()[0]
            .toObject()["processor"]
            .toString();
    };
    const QString before = first("hw");
    EXPECT_EQ(first("hw"), before); // kept
    const THttpResponse pageBefore = Request("GET", "/", {{"accel", "hw"}});

    TTestStore leader;
    leader.Add(TestComputer("Новый лидер", "Адаптер"),
               {TestResult(45000, 1024, 768, 32, 0, 409600)}); // 1000 frames a second
    ASSERT_EQ(Upload(leader.File()).Status, 200);
    EXPECT_EQ(first("hw"), "Новый лидер");
    EXPECT_NE(Request("GET", "/", {{"accel", "hw"}}).Body, pageBefore.Body);

    // An entry lives at most MaxAge, whoever changed the database.
    TResponseCache cache;
    const auto now = TResponseCache::TClock::now();
    cache.Put("k", 1, {200, "text/plain", "kept", {}}, now);
    EXPECT_TRUE(cache.Find("k", 1, now + std::chrono::seconds(4)));
    EXPECT_FALSE(cache.Find("k", 1, now + std::chrono::seconds(6)));
    EXPECT_FALSE(cache.Find("k", 2, now));
}

} // namespace
