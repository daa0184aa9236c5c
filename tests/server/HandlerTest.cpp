// The server's routes called as plain functions on a real database: what an upload stores,
// the merge rule, hostile files, the ranking against the results window's, the results file.
#include "ServerFixture.h"

#include "chart/StoreChart.h"
#include "server/OutlierRule.h"
#include "server/RequestHandler.h"
#include "server/ResponseCache.h"
#include "server/ResultsSchema.h"
#include "server/ServerOptions.h"
#include "server/ServerPages.h"
#include "state/RecordColumns.h"
#include "state/ResultPlausibility.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <pqxx/pqxx>
#include <random>

namespace {

const char* const Filters[] = {"any", "hw", "sw", "emulation"};

// A request as the listener passes it on: refused from its header first, when it is.
THttpResponse Serve(THttpRequest request, TServerContext& context) {
    const THttpRequestHead head{
        request.Method, request.Path, request.RemoteAddress, request.Body.size(), {}};
    if (auto refusal = ScreenRequest(head, context))
        return *refusal;
    return HandleRequest(std::move(request), context);
}

class HandlerTest : public testing::Test {
protected:
    HandlerTest() : connection_(SharedCluster().NewDatabase()), database_(connection_, 4) {}
    void TearDown() override {
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
        CurrentComputerIndex = 0;
    }

    THttpResponse Request(const std::string& method, const std::string& path,
                          std::map<std::string, std::string> query = {}, std::string body = {}) {
        return Serve({method, path, std::move(query), std::move(body), "192.0.2.7"}, context_);
    }
    THttpResponse Upload(const std::vector<std::uint8_t>& file) {
        return Request("POST", "/api/results", {}, std::string(file.begin(), file.end()));
    }
    // Uploads store and merges it into reference, the store the results window would hold.
    void UploadInto(TTestStore& reference, const TTestStore& store) {
        const auto file = store.File();
        reference.Merge(file);
        ASSERT_EQ(Upload(file).Status, 200);
    }
    // The bytes of the answer's body, from its file when it has one.
    static std::vector<std::uint8_t> BodyBytes(const THttpResponse& response) {
        if (!response.File)
            return {response.Body.begin(), response.Body.end()};
        std::vector<std::uint8_t> bytes(response.File->Size());
        EXPECT_TRUE(response.File->ReadAt(0, bytes.data(), bytes.size()));
        return bytes;
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
    void ExpectRankingIsTheWindows(const TTestStore& reference, std::int64_t pageSize);
    void ExpectPagesAreTheTables(std::int64_t pageSize);

    // The window's store holds exactly the reference.
    static void ShowInWindowStore(const TTestStore& store) {
        Computers = store.Computers;
        ComputerDevices = store.Devices;
        ComputerResults = store.Results;
        CurrentComputerIndex = -1; // no stored computer is the server's own
        std::memset(ModeAvailable, 0, sizeof ModeAvailable);
    }

    std::string connection_;
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

// New computers go to the database a batch at a time: an upload of several batches stores every
// computer whole, numbered in the order of the file, and the same file again adds nothing.
TEST_F(HandlerTest, AnUploadOfThousandsOfComputersStoresEachWholeInTheOrderOfTheFile) {
    TTestStore reference;
    const TTestStore store = VariedStore(2500, 91, "many");
    ASSERT_NO_FATAL_FAILURE(UploadInto(reference, store));
    ASSERT_GT(reference.Computers.size(), 2000u); // more than two batches
    ExpectSameStore(Stored(), reference);

    const THttpResponse again = Upload(store.File());
    ASSERT_EQ(again.Status, 200) << again.Body;
    EXPECT_EQ(Json(again)["computers_added"].toInt(), 0);
    EXPECT_EQ(Json(again)["computers_known"].toInt(), static_cast<int>(reference.Computers.size()));
    EXPECT_EQ(Json(again)["results_added"].toInt(), 0);
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
            const THttpResponse response =
                Serve({"POST", "/api/results", {}, std::string(bytes.begin(), bytes.end()), "x"},
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

// Every page of every filter, pageSize entries at a time, is the results window's ranking of
// the reference store.
void HandlerTest::ExpectRankingIsTheWindows(const TTestStore& reference, std::int64_t pageSize) {
    ShowInWindowStore(reference);
    for (int accel = 0; accel < 4; ++accel) {
        SCOPED_TRACE(accel);
        const std::vector<TChartEntry> window = ChartEntries(accel);
        ASSERT_GT(window.size(), 20u);
        const float windowMax = MakeChartLayout({0, 0, accel}).Max;
        std::size_t seen = 0;
        for (std::int64_t offset = 0; offset < static_cast<std::int64_t>(window.size());
             offset += pageSize) {
            const THttpResponse response = Request("GET", "/api/ranking",
                                                   {{"accel", Filters[accel]},
                                                    {"offset", std::to_string(offset)},
                                                    {"limit", std::to_string(pageSize)}});
            ASSERT_EQ(response.Status, 200) << response.Body;
            const QJsonObject page = Json(response);
            EXPECT_EQ(page["total"].toInteger(), static_cast<qint64>(window.size()));
            EXPECT_EQ(page["max"].toDouble(), static_cast<double>(windowMax));
            for (const QJsonValue& value : page["entries"].toArray()) {
                const QJsonObject entry = value.toObject();
                const TChartEntry& expected = window[seen];
                const auto computer = static_cast<std::size_t>(expected.Computer);
                EXPECT_EQ(entry["rank"].toInteger(), static_cast<qint64>(seen + 1));
                ASSERT_EQ(entry["computer"].toInteger(), expected.Computer + 1) << "rank " << seen;
                EXPECT_EQ(entry["acceleration"].toString(), QString(Filters[expected.Kind + 1]))
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

// Every page of every filter, pageSize entries at a time, lists the entries of the ranking table
// as one plain query over the whole table orders them; and the blocks the pages are read from
// are whole.
void HandlerTest::ExpectPagesAreTheTables(std::int64_t pageSize) {
    pqxx::connection connection(connection_);
    pqxx::nontransaction work(connection);
    for (int accel = 0; accel < 4; ++accel) {
        SCOPED_TRACE(accel);
        std::vector<std::pair<qint64, QString>> table;
        for (const pqxx::row& row :
             work.exec("SELECT computer_id, kind FROM ranking" +
                       (accel == 0 ? std::string() : " WHERE kind = " + std::to_string(accel - 1)) +
                       " ORDER BY rank_value DESC NULLS LAST, computer_id, kind"))
            table.emplace_back(row[0].as<qint64>(), Filters[row[1].as<int>() + 1]);
        for (std::int64_t offset = 0; offset <= static_cast<std::int64_t>(table.size()) + 1;
             offset += pageSize) {
            const QJsonObject page = Json(Request("GET", "/api/ranking",
                                                  {{"accel", Filters[accel]},
                                                   {"offset", std::to_string(offset)},
                                                   {"limit", std::to_string(pageSize)}}));
            EXPECT_EQ(page["total"].toInteger(), static_cast<qint64>(table.size()));
            const QJsonArray entries = page["entries"].toArray();
            const auto expected = std::min<std::int64_t>(
                pageSize,
                std::max<std::int64_t>(0, static_cast<std::int64_t>(table.size()) - offset));
            ASSERT_EQ(entries.size(), expected) << "offset " << offset;
            for (qsizetype i = 0; i < entries.size(); ++i) {
                const auto& [computer, kind] = table[static_cast<std::size_t>(offset + i)];
                EXPECT_EQ(entries[i].toObject()["computer"].toInteger(), computer)
                    << "rank " << offset + i + 1;
                EXPECT_EQ(entries[i].toObject()["acceleration"].toString(), kind)
                    << "rank " << offset + i + 1;
            }
        }
    }
    // Each block counts the entries from its first key up to the next block's and those
    // before it, holds at most twice block_entries, and (but the first) at least a quarter of
    // it.
    const pqxx::result faults = work.exec(
        "WITH b AS (SELECT filter, first_key, first_computer, first_kind, entries, before, "
        "lead(first_key) OVER w AS next_key, lead(first_computer) OVER w AS next_computer, "
        "lead(first_kind) OVER w AS next_kind, row_number() OVER w AS n FROM ranking_blocks "
        "WINDOW w AS (PARTITION BY filter ORDER BY first_key, first_computer, first_kind)) "
        "SELECT b.filter, b.n, b.entries, (SELECT count(*) FROM ranking e "
        "WHERE (b.filter = 0 OR e.kind = b.filter - 1) "
        "AND (e.rank_key, e.computer_id, e.kind) >= (b.first_key, b.first_computer, b.first_kind) "
        "AND (b.next_key IS NULL OR (e.rank_key, e.computer_id, e.kind) < "
        "(b.next_key, b.next_computer, b.next_kind))) AS counted, p.block_entries, b.before, "
        "(SELECT count(*) FROM ranking e WHERE (b.filter = 0 OR e.kind = b.filter - 1) "
        "AND (e.rank_key, e.computer_id, e.kind) < (b.first_key, b.first_computer, b.first_kind)) "
        "AS counted_before FROM b, ranking_paging p");
    std::array<int, 4> blocks{};
    for (const pqxx::row& row : faults) {
        const auto filter = row[0].as<std::size_t>();
        const auto entries = row[2].as<std::int64_t>();
        const auto size = row[4].as<std::int64_t>();
        ++blocks[filter];
        EXPECT_EQ(entries, row[3].as<std::int64_t>())
            << "block " << row[1].as<int>() << " of filter " << filter;
        EXPECT_EQ(row[5].as<std::int64_t>(), row[6].as<std::int64_t>())
            << "entries before block " << row[1].as<int>() << " of filter " << filter;
        EXPECT_LE(entries, 2 * size) << "block " << row[1].as<int>() << " of filter " << filter;
        if (row[1].as<int>() > 1) {
            EXPECT_GE(entries, size / 4) << "block " << row[1].as<int>() << " of filter " << filter;
        }
    }
    for (const int count : blocks)
        EXPECT_GE(count, 1);
}

TEST_F(HandlerTest, TheRankingIsTheResultsWindowsForEveryFilterAndPage) {
    TTestStore reference;
    for (unsigned part = 0; part < 3; ++part)
        ASSERT_NO_FATAL_FAILURE(
            UploadInto(reference, VariedStore(40, 11 + part, "r" + std::to_string(part))));
    EXPECT_TRUE(database_.HeldEntries().empty()); // none of these is an outlier
    ExpectRankingIsTheWindows(reference, 17);
}

// The pages are read from blocks of a few entries each, so that every change below cuts,
// merges and renumbers blocks: uploads of new computers (into an empty ranking, small ones,
// and one larger than a quarter of the ranking, which makes the blocks anew), an upload that
// replaces results of known computers and moves their entries, reviews that take entries out
// and put one back.
TEST_F(HandlerTest, PagesAtAnyOffsetFollowEveryChangeOfTheRanking) {
    {
        pqxx::connection connection(connection_);
        pqxx::nontransaction(connection).exec("UPDATE ranking_paging SET block_entries = 4");
    }
    TTestStore reference;
    const auto upload = [&](const TTestStore& store) {
        ASSERT_NO_FATAL_FAILURE(UploadInto(reference, store));
        ASSERT_TRUE(database_.HeldEntries().empty());
    };
    upload(VariedStore(20, 31, "first"));
    for (unsigned part = 0; part < 4; ++part)
        upload(VariedStore(5, 40 + part, "small" + std::to_string(part)));
    ExpectRankingIsTheWindows(reference, 5);
    ExpectPagesAreTheTables(7);
    upload(VariedStore(50, 50, "large"));
    ExpectRankingIsTheWindows(reference, 9);
    ExpectPagesAreTheTables(6);

    // Later results of every other computer, each of another value.
    TTestStore later;
    for (std::size_t i = 0; i < reference.Computers.size(); i += 2) {
        std::vector<TResultRecord> results;
        for (const TResultRecord& result : reference.Results[i])
            if (result.DetailLevel == TestDetailLevel)
                results.push_back(SteadyPassResult(result, result.Fps * 0.8, result.Timestamp + 1));
        later.Add(reference.Computers[i], results);
    }
    upload(later);
    ExpectRankingIsTheWindows(reference, 8);
    ExpectPagesAreTheTables(5);

    // Entries taken out by a review, one put back.
    for (std::int64_t id = 3; id <= 60; id += 7)
        for (std::int32_t kind = 0; kind < 3; ++kind)
            database_.Review(id, kind, false);
    ExpectPagesAreTheTables(4);
    EXPECT_TRUE(database_.Review(10, 0, true) || database_.Review(10, 1, true));
    ExpectPagesAreTheTables(3);
}

// A database of the schema before the ranking's blocks, holding what uploads stored, is
// brought up to date with its ranking whole: its pages are those of a database that had the
// blocks from the start.
TEST_F(HandlerTest, AnOlderDatabaseKeepsItsRankingWhenItsSchemaIsBroughtUpToDate) {
    TTestStore reference;
    for (unsigned part = 0; part < 3; ++part)
        ASSERT_NO_FATAL_FAILURE(
            UploadInto(reference, VariedStore(40, 71 + part, "o" + std::to_string(part))));
    const std::string older = SharedCluster().NewDatabase();
    {
        pqxx::connection connection(older);
        MigrateResultsSchema(connection, 2);
        pqxx::nontransaction(connection).exec("DELETE FROM ranking_counts");
    }
    // The rows the uploads stored, copied as they are (generated columns are made anew).
    QString output;
    ASSERT_EQ(
        RunAsServerUser({"sh", "-c",
                         QString("%1/pg_dump --data-only -t computers -t results -t ranking "
                                 "-t ranking_counts -t reviews -t computers_id_seq -d '%2' | "
                                 "%1/psql -X -q -v ON_ERROR_STOP=1 -d '%3'")
                             .arg(QString(STENDO_PG_BINDIR), QString::fromStdString(connection_),
                                  QString::fromStdString(older))},
                        &output),
        0)
        << output.toStdString();

    TResultsDatabase upgraded(older, 2); // the server's start brings the schema up to date
    TUploadLimiter limiter(10);
    TResponseCache cache;
    TServerContext context{upgraded, limiter, cache};
    for (int accel = 0; accel < 4; ++accel)
        for (std::int64_t offset = 0; offset < 130; offset += 9) {
            const std::map<std::string, std::string> query = {
                {"accel", Filters[accel]}, {"offset", std::to_string(offset)}, {"limit", "9"}};
            const THttpResponse before = Request("GET", "/api/ranking", query);
            const THttpResponse after = Serve({"GET", "/api/ranking", query, {}, "a"}, context);
            ASSERT_EQ(after.Status, 200) << after.Body;
            EXPECT_EQ(after.Body, before.Body) << accel << " " << offset;
        }
    connection_ = older;
    ExpectPagesAreTheTables(11);
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
    const TMergeReport report = downloaded.Merge(BodyBytes(response));
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
        EXPECT_EQ(Serve({"POST", "/api/results", {}, body, "192.0.2.1"}, context).Status, 200);
    const THttpResponse refused = Serve({"POST", "/api/results", {}, body, "192.0.2.1"}, context);
    EXPECT_EQ(refused.Status, 429);
    ASSERT_EQ(refused.Headers.size(), 1u);
    EXPECT_EQ(refused.Headers[0].first, "Retry-After");
    const int wait = std::stoi(refused.Headers[0].second); // a token every 20 s at 3 a minute
    EXPECT_GE(wait, 1);
    EXPECT_LE(wait, 20);
    EXPECT_EQ(Serve({"POST", "/api/results", {}, body, "192.0.2.2"}, context).Status, 200);
    EXPECT_EQ(database_.UploadCount(), 4); // the refused one was not read

    // The bucket refills with time.
    const auto now = TUploadLimiter::TClock::now();
    TUploadLimiter timed(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(timed.Allow("a", now));
    EXPECT_FALSE(timed.Allow("a", now + std::chrono::seconds(19)));
    EXPECT_TRUE(timed.Allow("a", now + std::chrono::seconds(21)));
    EXPECT_FALSE(timed.Allow("a", now + std::chrono::seconds(22)));

    // An IPv6 sender is its /64 network; an IPv4 address written as IPv6 is that address.
    EXPECT_EQ(SenderKey("2001:db8:1:2:aaaa::1"), SenderKey("2001:db8:1:2:bbbb::7"));
    EXPECT_NE(SenderKey("2001:db8:1:2::1"), SenderKey("2001:db8:1:3::1"));
    EXPECT_EQ(SenderKey("::ffff:192.0.2.1"), "192.0.2.1");
    EXPECT_EQ(SenderKey("192.0.2.1"), "192.0.2.1");
    TUploadLimiter once(1);
    EXPECT_TRUE(once.Allow("2001:db8:1:2::1", now));
    EXPECT_FALSE(once.Allow("2001:db8:1:2::99", now));
    EXPECT_TRUE(once.Allow("2001:db8:1:3::1", now));
}

TEST_F(HandlerTest, AnUploadIsRefusedFromItsHeaderBeforeItsBodyIsRead) {
    TUploadLimiter limiter(2);
    TServerContext context{database_, limiter, cache_};
    struct Case {
        const char* What;
        THttpRequestHead Head;
        int Status; // 0: it goes on
    };
    const std::uint64_t cap = MaxUploadBytes;
    const std::vector<Case> cases = {
        {"a file of the largest size", {"POST", "/api/results", "192.0.2.1", cap, ""}, 0},
        {"a larger one", {"POST", "/api/results", "192.0.2.2", cap + 1, ""}, 413},
        {"a chunked one, bounded as it is read", {"POST", "/api/results", "192.0.2.3", {}, ""}, 0},
        {"gzip", {"POST", "/api/results", "192.0.2.4", 254 * 1024, "gzip"}, 415},
        {"br", {"POST", "/api/results", "192.0.2.4", 100, "br"}, 415},
        {"identity", {"POST", "/api/results", "192.0.2.4", 100, "Identity"}, 0},
        {"the second of the address", {"POST", "/api/results", "192.0.2.1", 100, ""}, 0},
        {"the third of the address", {"POST", "/api/results", "192.0.2.1", 100, ""}, 429},
        {"a page, whatever it says", {"GET", "/", "192.0.2.1", 10, "gzip"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const auto refusal = ScreenRequest(c.Head, context);
        EXPECT_EQ(refusal ? refusal->Status : 0, c.Status);
        if (refusal) {
            EXPECT_FALSE(Json(*refusal)["error"].toString().isEmpty());
        }
        if (c.Status == 429) {
            ASSERT_EQ(refusal->Headers.size(), 1u);
            EXPECT_EQ(refusal->Headers[0].first, "Retry-After");
        }
    }
    EXPECT_EQ(BodyLimit({"POST", "/api/results", "a", {}, ""}), MaxUploadBytes);
    EXPECT_EQ(BodyLimit({"GET", "/", "a", {}, ""}), MaxOtherBodyBytes);
    EXPECT_EQ(TooLargeResponse("/api/results").Status, 413);
    EXPECT_EQ(database_.UploadCount(), 0); // nothing of them was read
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
            Serve({"POST", "/api/results", {}, std::string(file.begin(), file.end()), "a"}, context)
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
    auto options = ParseServerOptions({"--listen", "[::1]:9000", "--database", "dbname=x",
                                       "--uploads-per-minute", "5", "--database-connections", "16"},
                                      &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->ListenHost, "::1");
    EXPECT_EQ(options->ListenPort, 9000);
    EXPECT_EQ(options->Database, "dbname=x");
    EXPECT_EQ(options->UploadsPerMinute, 5);
    EXPECT_EQ(options->DatabaseConnections, 16);
    EXPECT_EQ(ParseServerOptions({}, &error)->DatabaseConnections, 0); // one per core
    EXPECT_EQ(options->Review, TReviewAction::None);
    const auto review = ParseServerOptions({"--review"}, &error);
    ASSERT_TRUE(review);
    EXPECT_EQ(review->Review, TReviewAction::List);
    const auto accept = ParseServerOptions({"--database", "x", "--accept", "12:emulation"}, &error);
    ASSERT_TRUE(accept);
    EXPECT_EQ(accept->Review, TReviewAction::Accept);
    EXPECT_EQ(accept->ReviewComputer, 12);
    EXPECT_EQ(accept->ReviewKind, 2);
    EXPECT_EQ(ParseServerOptions({"--reject", "3:sw"}, &error)->Review, TReviewAction::Reject);
    EXPECT_EQ(ParseServerOptions({"--trusted-proxy", "::1"}, &error)->TrustedProxy, "::1");
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--listen", "127.0.0.1"},
                                                  {"--listen", "127.0.0.1:70000"},
                                                  {"--listen", ":80"},
                                                  {"--database"},
                                                  {"--uploads-per-minute", "0"},
                                                  {"--database-connections", "0"},
                                                  {"--database-connections", "65"},
                                                  {"--port", "1"},
                                                  {"--accept", "12"},
                                                  {"--accept", "12:gpu"},
                                                  {"--reject", "x:hw"},
                                                  {"--reject", "0:sw"},
                                                  {"--review", "--accept", "1:hw"},
                                                  {"--trusted-proxy", "proxy.example"}}) {
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

namespace {

// A publisher key of 64 hexadecimal digits made of one digit, and its header.
std::string KeyHeader(char digit) {
    return "Bearer " + std::string(64, digit);
}

TEST_F(HandlerTest, AComputerChangesOnlyByWhoeverPublishedItFirst) {
    const TComputerRecord computer = TestComputer("Чужой компьютер", "Адаптер");
    const auto file = [&](double timestamp, float value) {
        TTestStore store;
        store.Add(computer, {TestResult(timestamp, 1024, 768, 32, 0, value)});
        const auto bytes = store.File();
        return std::string(bytes.begin(), bytes.end());
    };
    struct Case {
        const char* What;
        std::string First, Second; // the Authorization headers
        bool Changes;
    };
    const std::vector<Case> cases = {
        {"the same key", KeyHeader('a'), KeyHeader('a'), true},
        {"the same key in capitals", KeyHeader('b'), "Bearer " + std::string(64, 'B'), true},
        {"another key", KeyHeader('a'), KeyHeader('c'), false},
        {"no key after a key", KeyHeader('a'), "", false},
        {"a key after none claims it", "", KeyHeader('d'), true},
        {"no key after none", "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TResultsDatabase database(SharedCluster().NewDatabase(), 2);
        TResponseCache cache;
        TServerContext context{database, limiter_, cache};
        const auto upload = [&](const std::string& body, const std::string& key) {
            THttpRequest request{"POST", "/api/results", {}, body, "192.0.2.9"};
            request.Authorization = key;
            return Serve(request, context);
        };
        ASSERT_EQ(upload(file(45000, 500), c.First).Status, 200);
        // A later result of a tenth of the value: the overwriting of a copied computer.
        const THttpResponse second = upload(file(45001, 50), c.Second);
        ASSERT_EQ(second.Status, 200) << second.Body;
        const QJsonObject answer = Json(second);
        EXPECT_EQ(answer["computers_known"].toInt(), 1);
        EXPECT_EQ(answer["computers_not_yours"].toInt(), c.Changes ? 0 : 1);
        EXPECT_EQ(answer["results_replaced"].toInt(), c.Changes ? 1 : 0);
        const QJsonArray leftOut = answer["left_out"].toArray();
        EXPECT_EQ(leftOut.size(), c.Changes ? 0 : 1);
        if (!c.Changes) {
            EXPECT_TRUE(leftOut[0].toString().contains("another publisher key")) << second.Body;
        }
        EXPECT_EQ(database.Computer(1)->Results[0].TrianglesPerMs, c.Changes ? 50.0f : 500.0f);
        // What changes nothing is no one's business: the same file again is simply known.
        const QJsonObject again = Json(upload(file(45000, 500), KeyHeader('f')));
        EXPECT_EQ(again["computers_not_yours"].toInt(), 0);
        EXPECT_EQ(again["results_not_later"].toInt(), 1);
    }
    // Only a key is taken as a key.
    for (const std::string& wrong :
         {std::string("Bearer abc"), std::string("Basic dXNlcjpwYXNz"),
          "Bearer " + std::string(64, 'g'), "Bearer " + std::string(65, 'a')}) {
        THttpRequest request{"POST", "/api/results", {}, file(45000, 1), "192.0.2.9"};
        request.Authorization = wrong;
        const THttpResponse refused = Serve(request, context_);
        EXPECT_EQ(refused.Status, 400) << wrong;
        EXPECT_TRUE(Json(refused)["error"].toString().contains("publisher key")) << refused.Body;
    }
    EXPECT_EQ(database_.UploadCount(), 0);
}

TEST_F(HandlerTest, ForgedAndImplausibleRecordsAreRefusedWithTheirReasons) {
    const double now = LatestPlausibleTimestamp() - 1; // this machine's clock
    const auto forged = [](float trianglesPerMs) {
        TResultRecord r = TestResult(45000, 1024, 768, 32, 0, 100);
        r.TrianglesPerMs = trianglesPerMs;
        return r;
    };
    TTestStore store;
    store.Add(TestComputer("Честный", "Адаптер"),
              {TestResult(45000, 1024, 768, 32, 0, 100),
               TestResult(now + 0.5, 800, 600, 32, 0, 90)}); // measured in a later time zone
    store.Add(TestComputer("Подделка", "Адаптер"),
              {forged(std::numeric_limits<float>::infinity()), // 1
               [&] {                                           // 2
                   TResultRecord r = forged(3.4e38f);
                   r.Width = 800;
                   r.Height = 600;
                   return r;
               }(),
               [&] { // 3
                   TResultRecord r = forged(1e30f);
                   r.Depth = 16;
                   return r;
               }(),
               TestResult(now + 2, 640, 480, 16, 0, 100)}); // 4: two days ahead of the server
    const THttpResponse answer = Upload(store.File());
    ASSERT_EQ(answer.Status, 200) << answer.Body;
    const QJsonObject outcome = Json(answer);
    EXPECT_EQ(outcome["results_added"].toInt(), 2);
    QStringList leftOut;
    for (const QJsonValue& line : outcome["left_out"].toArray())
        leftOut.append(line.toString());
    const QString text = leftOut.join('\n');
    for (
        const char* expected :
        {"result 1 of computer block 2 left out: a figure is not a finite number",
         "result 2 of computer block 2 left out: its triangles per ms disagree with its frame rate",
         "result 3 of computer block 2 left out: its triangles per ms disagree with its frame rate",
         "result 4 of computer block 2 left out: its time is not a time the result could have "
         "been measured"})
        EXPECT_TRUE(text.contains(expected)) << expected << "\n" << text.toStdString();
    // Nothing forged reaches the ranking or the file of the best computers.
    const QJsonObject ranking = Json(Request("GET", "/api/ranking"));
    EXPECT_EQ(ranking["max"].toDouble(), 100);
    EXPECT_EQ(ranking["entries"].toArray().size(), 1);
    const THttpResponse top = Request("GET", "/Results.bin", {{"top", "3"}});
    TTestStore fetched;
    fetched.Merge(BodyBytes(top));
    ASSERT_EQ(fetched.Computers.size(), 1u);
    EXPECT_EQ(fetched.Results[0].size(), 2u);
}

TEST_F(HandlerTest, AnEntryFarAboveItsAdapterWaitsForReviewOutOfTheRanking) {
    // Six computers of one adapter score around 100 with hardware vertex processing.
    TTestStore peers;
    for (int i = 0; i < 6; ++i)
        peers.Add(TestComputer("Обычный " + std::to_string(i), "Radeon 9600"),
                  {TestResult(45000, 1024, 768, 32, 0, std::array{90, 95, 100, 100, 105, 110}[i])});
    ASSERT_EQ(Upload(peers.File()).Status, 200);

    // Two more of that adapter: one at nine times the median, one at twelve; a third with an
    // adapter nobody else has, at any value.
    TTestStore next;
    next.Add(TestComputer("Быстрый", "Radeon 9600"), {TestResult(45000, 1024, 768, 32, 0, 1000)});
    next.Add(TestComputer("Поддельный", "Radeon 9600"),
             {TestResult(45000, 1024, 768, 32, 0, 1300), TestResult(45000, 640, 480, 16, 1, 20)});
    next.Add(TestComputer("Единственный", "Adapter X"),
             {TestResult(45000, 1024, 768, 32, 0, 5000)});
    const THttpResponse answer = Upload(next.File());
    ASSERT_EQ(answer.Status, 200);
    const QJsonArray held = Json(answer)["held_for_review"].toArray();
    ASSERT_EQ(held.size(), 1) << answer.Body;
    EXPECT_TRUE(held[0].toString().startsWith("/computers/8 (Поддельный), hw: 1300 triangles"))
        << answer.Body;
    EXPECT_TRUE(held[0].toString().contains("median 100 of 6 other computers")) << answer.Body;

    const auto ranking = [&] {
        return Json(Request("GET", "/api/ranking", {{"accel", "hw"}, {"limit", "100"}}));
    };
    const auto ranked = [&](std::int64_t id) {
        for (const QJsonValue& entry : ranking()["entries"].toArray())
            if (entry.toObject()["computer"].toInteger() == id)
                return true;
        return false;
    };
    EXPECT_EQ(ranking()["total"].toInt(), 8);
    EXPECT_EQ(ranking()["max"].toDouble(), 5000);
    EXPECT_FALSE(ranked(8));
    EXPECT_TRUE(ranked(7));
    // Its other entry is no outlier and is ranked; the computer itself is there to be seen.
    EXPECT_EQ(Json(Request("GET", "/api/ranking", {{"accel", "sw"}}))["total"].toInt(), 1);
    EXPECT_EQ(Request("GET", "/api/computers/8").Status, 200);

    ASSERT_EQ(database_.HeldEntries().size(), 1u);
    EXPECT_EQ(database_.HeldEntries()[0].ComputerId, 8);
    EXPECT_DOUBLE_EQ(database_.HeldEntries()[0].Median, 100);
    // The same file again changes nothing, and the entry still waits.
    ASSERT_EQ(Upload(next.File()).Status, 200);
    EXPECT_EQ(database_.HeldEntries().size(), 1u);

    // Accepted, it is ranked, and stays so when the file comes again; a rejected ranked entry
    // leaves the ranking.
    EXPECT_FALSE(database_.Review(8, 2, true)); // no emulation entry
    EXPECT_FALSE(database_.Review(99, 0, true));
    ASSERT_TRUE(database_.Review(8, 0, true));
    EXPECT_TRUE(database_.HeldEntries().empty());
    EXPECT_TRUE(ranked(8));
    ASSERT_EQ(Upload(next.File()).Status, 200);
    EXPECT_TRUE(ranked(8));
    ASSERT_TRUE(database_.Review(9, 0, false));
    EXPECT_FALSE(ranked(9));
    EXPECT_EQ(ranking()["total"].toInt(), 8);
    EXPECT_EQ(ranking()["max"].toDouble(), 1300);

    // A new result of the rejected computer is judged afresh.
    TTestStore later;
    later.Add(TestComputer("Единственный", "Adapter X"),
              {TestResult(45001, 1024, 768, 32, 0, 120)});
    ASSERT_EQ(Upload(later.File()).Status, 200);
    EXPECT_TRUE(ranked(9));
}

TEST(OutlierRule, HoldsOnlyFarAboveTheMedianOfEnoughPeers) {
    struct Case {
        double Value;
        std::vector<double> Peers;
        bool Held;
        double Median;
    };
    const std::vector<Case> cases = {
        {1000, {}, false, 0},
        {1000, {1, 1, 1, 1}, false, 1},              // too few peers to judge
        {11, {1, 1, 1, 1, 1}, true, 1},              // five are enough
        {10, {1, 1, 1, 1, 1}, false, 1},             // ten times is still believed
        {600, {1, 2, 3, 100, 200, 300}, true, 51.5}, // an even count: the middle two
        {500, {1, 2, 3, 100, 200, 300}, false, 51.5},
        {100, {300, 9, 8, 7, 6, 5, 4}, true, 7},
        {69, {300, 9, 8, 7, 6, 5, 4}, false, 7},
    };
    for (const Case& c : cases) {
        const TOutlierJudgement judgement = JudgeOutlier(c.Value, c.Peers);
        EXPECT_EQ(judgement.Held, c.Held) << c.Value;
        EXPECT_DOUBLE_EQ(judgement.Median, c.Median) << c.Value;
        EXPECT_EQ(judgement.Peers, static_cast<int>(c.Peers.size()));
    }
}

TEST(ServerPages, ControlCharactersOfStoredTextsAreShownAsTheReplacementCharacter) {
    // The reader takes no such text any more; a database may still hold one from before.
    TStoredComputer computer;
    computer.Id = 5;
    computer.Computer = TestComputer("Esc\x1b[31m Del\x7f", "Адаптер\x01");
    computer.Results = {TestResult(45000, 1024, 768, 32, 0, 100)};
    TRankingPage ranking;
    ranking.Total = 1;
    ranking.Rows.push_back({5, 0, computer.Computer, computer.Results[0]});
    for (const QByteArray& page : {ComputerPageHtml(computer), RankingPageHtml(ranking, 0, 0)}) {
        EXPECT_FALSE(page.contains('\x1b'));
        EXPECT_FALSE(page.contains('\x7f'));
        EXPECT_FALSE(page.contains('\x01'));
        EXPECT_TRUE(page.contains("Esc\xEF\xBF\xBD[31m Del\xEF\xBF\xBD")) << page.toStdString();
    }
}

} // namespace
