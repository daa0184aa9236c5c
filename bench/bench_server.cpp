// The results server on databases of 100,000 and 1,000,000 generated computers (or the counts
// given as arguments): the upload of a 10,000-computer file (time and rows per second); ranking
// latency p50/p99 under 32 concurrent clients on loopback, uncached, at the first pages, at
// random offsets and at the last pages of each filter; the upload of one computer with every
// result a computer may hold; the server's memory under 32 clients that read the ranking, the
// results file of the first 10,000 computers and the largest computer; the ranking's latency
// and the server's memory while slow clients attack it.
//
//   bench_server [--data FOLDER] [COMPUTERS...]
//
// Without --data each database is generated in a private cluster that the benchmark starts
// and removes. With it the cluster lives in FOLDER and is kept: a database generated there
// once (per count and schema version) is copied for every run, so that runs measure the same
// data without generating it again.
#include "ServerHarness.h"
#include "SlowClients.h"
#include "ToolArguments.h"

#include "chart/ChartModel.h"
#include "server/ResultsDatabase.h"
#include "state/RecordColumns.h"
#include "state/ResultPlausibility.h"
#include "state/ResultsFile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <httplib.h>
#include <memory>
#include <pqxx/pqxx>
#include <random>
#include <thread>

namespace {

// The largest resident size of a process, in MB, from now until Stop, sampled every period.
class PeakMemory {
public:
    PeakMemory(qint64 pid, std::chrono::milliseconds period)
        : peak_(ProcessMemory(pid).first), sampler_([this, pid, period] {
              while (!stopping_) {
                  peak_ = std::max(peak_, ProcessMemory(pid).first);
                  std::this_thread::sleep_for(period);
              }
          }) {}
    ~PeakMemory() { Stop(); }
    PeakMemory(const PeakMemory&) = delete;
    PeakMemory& operator=(const PeakMemory&) = delete;
    double Stop() {
        stopping_ = true;
        if (sampler_.joinable())
            sampler_.join();
        return peak_;
    }

private:
    std::atomic<bool> stopping_ = false;
    double peak_;
    std::thread sampler_;
};

constexpr int UploadComputers = 10000;
constexpr int Clients = 32;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Computer number n, its three results (one of each kind, in a mode of the preference list) and
// its two device lines. Values repeat, so that the ranking has ties.
struct TGenerated {
    TComputerRecord Computer{};
    std::vector<TResultRecord> Results;
    std::vector<TStringSlot> Devices;
};
TGenerated Generate(std::int64_t n, const char* batch) {
    std::mt19937 random(static_cast<unsigned>(n * 7919 + 13));
    TGenerated g;
    const std::string tag = std::string(batch) + std::to_string(n);
    g.Computer.Processor = ScrambleText(MakeStringSlot("Processor " + tag + " (~2400MHz)"));
    g.Computer.VideoAdapter =
        ScrambleText(MakeStringSlot("Adapter model " + std::to_string(random() % 500)));
    g.Computer.Chipset = ScrambleText(MakeStringSlot("Host bridge"));
    g.Computer.MemoryMB = ScrambleText(MakeStringSlot("8192"));
    g.Computer.OSName = ScrambleText(MakeStringSlot("Debian GNU/Linux 12 (bookworm)"));
    g.Computer.Owner = ScrambleText(MakeStringSlot("Owner " + tag));
    g.Computer.TimeZone = ScrambleText(MakeStringSlot("Europe/Moscow (Bias=3)"));
    g.Computer.RecordTag = ScrambleText(MakeStringSlot("1"));
    g.Computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
    g.Computer.HalCaps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    g.Computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    g.Devices = {ScrambleText(MakeStringSlot("  video")),
                 ScrambleText(MakeStringSlot("VGA compatible controller"))};
    for (int kind = 0; kind < ChartKindCount; ++kind) {
        TResultRecord r{};
        const int size = static_cast<int>(random() % ModeSizeCount);
        r.Timestamp = 45000 + static_cast<double>(random() % 1000);
        r.TestSet = TestSet;
        r.Width = static_cast<std::uint16_t>(ModeSizes[size].Width);
        r.Height = static_cast<std::uint16_t>(ModeSizes[size].Height);
        r.Depth = static_cast<std::uint16_t>(ModeDepths[random() % 2]);
        r.HardwareDevice = ChartKinds[kind].HardwareDevice;
        r.HardwareVertexProcessing = ChartKinds[kind].HardwareVertexProcessing;
        r.VertexBufferMode = 2;
        r.TextureMode = 2;
        r.DetailLevel = TestDetailLevel;
        const double trianglesPerMs = static_cast<double>(1 + random() % 20000) / (kind + 1.0);
        g.Results.push_back(SteadyPassResult(
            r, trianglesPerMs * 1000 / TrianglesPerFrame(TestDetailLevel), r.Timestamp));
    }
    return g;
}

std::string Hex(const void* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string text = "\\x";
    text.reserve(2 + 2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

// Fills the server's tables with count computers by COPY, the rows exactly as uploads make
// them: texts decoded by the export's code, ranking entries chosen by the window's rule.
void FillDatabase(const std::string& connectionString, std::int64_t count) {
    pqxx::connection connection(connectionString);
    pqxx::work work(connection);
    {
        pqxx::stream_to computers(work, "computers",
                                  std::vector<std::string>{"id", "record_hash", "record", "devices",
                                                           "processor", "video_adapter", "chipset",
                                                           "memory_mb", "os_name", "owner",
                                                           "time_zone", "record_tag"});
        for (std::int64_t n = 1; n <= count; ++n) {
            const TGenerated g = Generate(n, "g");
            const QByteArray hash = QCryptographicHash::hash(
                QByteArrayView(reinterpret_cast<const char*>(&g.Computer), sizeof g.Computer),
                QCryptographicHash::Sha256);
            std::string devices;
            for (const auto& line : g.Devices)
                devices.append(reinterpret_cast<const char*>(line.data()), line.size());
            const auto text = [](const TStringSlot& slot) {
                return ReadableText(slot).toStdString();
            };
            computers << std::make_tuple(
                n, Hex(hash.constData(), static_cast<std::size_t>(hash.size())),
                Hex(&g.Computer, sizeof g.Computer), Hex(devices.data(), devices.size()),
                text(g.Computer.Processor), text(g.Computer.VideoAdapter), text(g.Computer.Chipset),
                text(g.Computer.MemoryMB), text(g.Computer.OSName), text(g.Computer.Owner),
                text(g.Computer.TimeZone), text(g.Computer.RecordTag));
        }
        computers.complete();
    }
    {
        pqxx::stream_to results(work, "results",
                                std::vector<std::string>{"computer_id", "position", "record"});
        for (std::int64_t n = 1; n <= count; ++n) {
            const TGenerated g = Generate(n, "g");
            for (std::size_t p = 0; p < g.Results.size(); ++p)
                results << std::make_tuple(n, static_cast<int>(p),
                                           Hex(&g.Results[p], sizeof(TResultRecord)));
        }
        results.complete();
    }
    {
        pqxx::stream_to ranking(
            work, "ranking",
            std::vector<std::string>{"computer_id", "kind", "result_position", "value", "adapter"});
        for (std::int64_t n = 1; n <= count; ++n) {
            const TGenerated g = Generate(n, "g");
            const auto rep = RepresentativeResults(g.Results);
            for (int kind = 0; kind < ChartKindCount; ++kind) {
                const int r = rep[static_cast<std::size_t>(kind)];
                if (r < 0)
                    continue;
                ranking << std::make_tuple(
                    n, kind, r, PostgresReal(g.Results[static_cast<std::size_t>(r)].TrianglesPerMs),
                    ReadableText(g.Computer.VideoAdapter).toStdString());
            }
        }
        ranking.complete();
    }
    // The counts as the uploads keep them (a schema that keeps them itself has them already).
    work.exec("UPDATE ranking_counts k SET entries = (SELECT count(*) FROM ranking r "
              "WHERE r.kind = k.kind)");
    work.exec("SELECT setval('computers_id_seq', " + std::to_string(count) + ")");
    work.commit();
    pqxx::nontransaction maintenance(connection);
    maintenance.exec("VACUUM ANALYZE");
}

double Percentile(const std::vector<double>& values, double p) {
    return PercentileOf(values, p);
}

// One computer with count results, each of another test configuration: every configuration a
// result can have first (sizes, depths, kinds, the pools of the vertex buffer and the textures,
// test and presentation: the most results a computer can hold), then made-up widths, which the
// reader refuses.
std::vector<std::uint8_t> OneComputerFile(int count) {
    TGenerated g = Generate(1, "many");
    TResultRecord model = g.Results[0];
    g.Results.clear();
    for (int size = 0; size < ModeSizeCount; ++size)
        for (int depth = 0; depth < ModeDepthCount; ++depth)
            for (int kind = 0; kind < ChartKindCount; ++kind)
                for (std::uint8_t pools = 0; pools < 9; ++pools)
                    for (std::uint8_t detail : {TestDetailLevel, std::uint8_t{1}}) {
                        TResultRecord r = model;
                        r.Width = static_cast<std::uint16_t>(ModeSizes[size].Width);
                        r.Height = static_cast<std::uint16_t>(ModeSizes[size].Height);
                        r.Depth = static_cast<std::uint16_t>(ModeDepths[depth]);
                        r.HardwareDevice = ChartKinds[kind].HardwareDevice;
                        r.HardwareVertexProcessing = ChartKinds[kind].HardwareVertexProcessing;
                        r.VertexBufferMode = pools / 3;
                        r.TextureMode = pools % 3;
                        r.DetailLevel = detail;
                        g.Results.push_back(SteadyPassResult(r, 60, model.Timestamp));
                    }
    for (int width = 1; static_cast<int>(g.Results.size()) < count; ++width) {
        TResultRecord r = model;
        r.Width = static_cast<std::uint16_t>(width);
        r.Height = static_cast<std::uint16_t>(width >> 16);
        g.Results.push_back(r);
    }
    g.Results.resize(static_cast<std::size_t>(count));
    return *EncodeResultsFile({g.Computer}, {g.Devices}, {g.Results}, 1);
}

// The distinct test configurations of OneComputerFile before the made-up ones.
constexpr int AllConfigurations = ModeSizeCount * ModeDepthCount * ChartKindCount * 9 * 2;

// The upload of one file: its time and what the server took of it.
void TimeUpload(const ServerProcess& server, const std::vector<std::uint8_t>& file,
                const char* what) {
    httplib::Client uploader(server.Host(), server.Port());
    uploader.set_read_timeout(3600, 0);
    uploader.set_write_timeout(600, 0);
    const auto start = Clock::now();
    const auto answer = uploader.Post("/api/results", std::string(file.begin(), file.end()),
                                      "application/octet-stream");
    const double seconds = Seconds(Clock::now() - start);
    const QJsonObject taken =
        answer ? QJsonDocument::fromJson(QByteArray::fromStdString(answer->body)).object()
               : QJsonObject();
    std::printf("  upload of %s (%.1f MB): %.2f s, status %d, %d results added\n", what,
                static_cast<double>(file.size()) / 1e6, seconds, answer ? answer->status : -1,
                taken["results_added"].toInt());
}

// The server's memory while it refuses bodies past its bound: 128 MiB chunked, a length of
// 128 MiB, and 256 MiB of zeros in gzip.
void MeasureRefusals(const ServerProcess& server) {
    const double before = ProcessMemory(server.ProcessId()).first;
    PeakMemory peak(server.ProcessId(), std::chrono::milliseconds(20));
    const TFloodAnswer chunked = SendChunkedUpload(server.Host(), server.Port(), 128u << 20);
    httplib::Client client(server.Host(), server.Port());
    QProcess gzip;
    gzip.start("sh", {"-c", "head -c 268435456 /dev/zero | gzip -9"});
    gzip.waitForFinished(120000);
    const QByteArray bomb = gzip.readAllStandardOutput();
    const auto inflated = client.Post("/api/results", {{"Content-Encoding", "gzip"}},
                                      bomb.toStdString(), "application/octet-stream");
    const double peakRss = peak.Stop();
    std::printf("  refusals: a chunked body of 128 MiB answered %.12s after %zu MiB sent, 256 MiB "
                "in %.0f KiB of gzip answered %d; server memory %.1f MB before, at most %.1f MB "
                "meanwhile\n",
                chunked.Answer.c_str(), chunked.BodySent >> 20, bomb.size() / 1024.0,
                inflated ? inflated->status : -1, before, peakRss);
}

// The ranking read by one client while slow clients hold connections from several addresses,
// and the server's memory meanwhile (sampled every 100 ms).
void MeasureUnderSlowClients(const ServerProcess& server, int connections, int addresses) {
    PeakMemory peak(server.ProcessId(), std::chrono::milliseconds(100));
    const TSlowClientFigures figures = RunSlowClients(server.Host(), server.Port(), connections,
                                                      addresses, std::chrono::seconds(20));
    const double peakRss = peak.Stop();
    std::printf("  ranking under %d slow clients from %d addresses for 20 s: %d requests, %d not "
                "answered, p50 %.1f ms, p99 %.1f ms; slow connections opened %d, dropped by the "
                "server %d, at most %d open at once; server memory at most %.1f MB\n",
                connections, addresses, figures.NormalRequests, figures.NormalFailures,
                Percentile(figures.LatenciesMs, 0.5), Percentile(figures.LatenciesMs, 0.99),
                figures.SlowConnects, figures.SlowDropped, figures.MostSlowOpen, peakRss);
}

// The database of count generated computers for one run: generated in place, or copied from
// the one generated before in a kept cluster (and generated there first when there is none).
std::string RunDatabase(PostgresCluster& cluster, bool kept, std::int64_t count) {
    const auto fill = [&](const std::string& database) {
        { TResultsDatabase schema(database, 1); } // the server's own migrations
        const auto start = Clock::now();
        FillDatabase(database, count);
        std::printf("  generating the database by COPY, with VACUUM ANALYZE: %.1f s\n",
                    Seconds(Clock::now() - start));
    };
    if (!kept) {
        const std::string database = cluster.NewDatabase();
        fill(database);
        return database;
    }
    const std::string suffix =
        std::to_string(count) + "_v" + std::to_string(ResultsSchemaVersion());
    const std::string filled = "filled_" + suffix, run = "run_" + suffix;
    pqxx::connection admin(cluster.Database("postgres"));
    pqxx::nontransaction work(admin);
    const auto exists = [&](const std::string& name) {
        return !work.exec_params("SELECT 1 FROM pg_database WHERE datname = $1", name).empty();
    };
    if (!exists(filled)) {
        // Generated under another name and renamed when whole, so that an interrupted run
        // leaves nothing that looks finished.
        const std::string filling = "filling_" + suffix;
        work.exec("DROP DATABASE IF EXISTS " + filling);
        cluster.CreateDatabase(filling);
        fill(cluster.Database(filling));
        work.exec("ALTER DATABASE " + filling + " RENAME TO " + filled);
    } else {
        std::printf("  the database generated before in the kept cluster\n");
    }
    work.exec("DROP DATABASE IF EXISTS " + run);
    const auto start = Clock::now();
    cluster.CreateDatabase(run, filled);
    std::printf("  copied for this run: %.1f s\n", Seconds(Clock::now() - start));
    return cluster.Database(run);
}

// Latencies of requests sent by 32 clients at once, each asking again as soon as it has its
// answer, for a while or a number of requests each.
struct TLoadFigures {
    std::vector<double> LatenciesMs;
    int Failures = 0;
    double Seconds = 0;
};
template <typename PathOf>
TLoadFigures Load(const ServerProcess& server, int clients, std::chrono::seconds duration,
                  int requestsPerClient, PathOf pathOf) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<int> failures = 0;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            std::mt19937 random(static_cast<unsigned>(c * 7 + 1));
            httplib::Client client(server.Host(), server.Port());
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(120, 0);
            for (int i = 0; i < requestsPerClient && Clock::now() - start < duration; ++i) {
                const std::string path = pathOf(c, random);
                const auto sent = Clock::now();
                const auto response = client.Get(path);
                latencies[static_cast<std::size_t>(c)].push_back(Seconds(Clock::now() - sent) *
                                                                 1000);
                if (!response || response->status != 200)
                    ++failures;
            }
        });
    for (auto& thread : threads)
        thread.join();
    TLoadFigures figures;
    figures.Seconds = Seconds(Clock::now() - start);
    figures.Failures = failures.load();
    for (const auto& list : latencies)
        figures.LatenciesMs.insert(figures.LatenciesMs.end(), list.begin(), list.end());
    return figures;
}

void PrintLoad(const char* what, const TLoadFigures& figures) {
    std::printf("  %s: %zu requests in %.1f s, p50 %.1f ms, p99 %.1f ms, %d failed\n", what,
                figures.LatenciesMs.size(), figures.Seconds, Percentile(figures.LatenciesMs, 0.5),
                Percentile(figures.LatenciesMs, 0.99), figures.Failures);
}

const char* const Filters[] = {"any", "hw", "sw", "emulation"};

// The entries of each filter's ranking, as the API counts them.
std::array<std::int64_t, 4> RankingTotals(const ServerProcess& server) {
    std::array<std::int64_t, 4> totals{};
    httplib::Client client(server.Host(), server.Port());
    for (std::size_t f = 0; f < totals.size(); ++f) {
        const auto response = client.Get("/api/ranking?limit=1&accel=" + std::string(Filters[f]));
        if (response && response->status == 200)
            totals[f] = QJsonDocument::fromJson(QByteArray::fromStdString(response->body))
                            .object()["total"]
                            .toInteger();
    }
    return totals;
}

// Pages of the ranking under 32 clients, none of them answered from the server's memory of
// recent answers: each request carries a parameter of its own that the server does not read.
void MeasureRanking(const ServerProcess& server) {
    const std::array<std::int64_t, 4> totals = RankingTotals(server);
    std::atomic<long> fresh = 0;
    enum class TWhere { First, Random, Last };
    const auto pages = [&](TWhere where) {
        return [&, where](int, std::mt19937& random) {
            const std::size_t f = random() % 4;
            const std::int64_t total = std::max<std::int64_t>(totals[f], 1);
            std::int64_t offset = 0;
            if (where == TWhere::First)
                offset = static_cast<std::int64_t>(random() % 50) * 20;
            else if (where == TWhere::Random)
                offset = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(total));
            else
                offset = std::max<std::int64_t>(
                    0, total - 20 * (1 + static_cast<std::int64_t>(random() % 50)));
            return "/api/ranking?accel=" + std::string(Filters[f]) +
                   "&limit=20&offset=" + std::to_string(offset) +
                   "&fresh=" + std::to_string(++fresh);
        };
    };
    PrintLoad("ranking, uncached, the first 50 pages of each filter, 32 clients at once",
              Load(server, Clients, std::chrono::seconds(20), 1000000, pages(TWhere::First)));
    PrintLoad("ranking, uncached, pages at random offsets of each filter, 32 clients at once",
              Load(server, Clients, std::chrono::seconds(30), 1000000, pages(TWhere::Random)));
    PrintLoad("ranking, uncached, the last 50 pages of each filter, 32 clients at once",
              Load(server, Clients, std::chrono::seconds(20), 1000000, pages(TWhere::Last)));
}

// The server's memory while 32 clients read at once: 24 of them pages of the ranking at random
// offsets, 4 the results file of the first 10,000 computers of each filter, 4 the largest
// computer (every result a computer can hold) as JSON. The resident size is sampled every
// 100 ms.
void MeasureMemoryUnderReaders(const ServerProcess& server, std::int64_t largestComputer) {
    const std::array<std::int64_t, 4> totals = RankingTotals(server);
    PeakMemory peak(server.ProcessId(), std::chrono::milliseconds(100));
    std::atomic<long> fresh = 0;
    const TLoadFigures all =
        Load(server, Clients, std::chrono::seconds(30), 1000000, [&](int c, std::mt19937& random) {
            const std::size_t f = random() % 4;
            if (c < 4)
                return "/Results.bin?top=10000&accel=" + std::string(Filters[c % 4]) +
                       "&fresh=" + std::to_string(++fresh);
            if (c < 8)
                return "/api/computers/" + std::to_string(largestComputer) +
                       "?fresh=" + std::to_string(++fresh);
            const std::int64_t total = std::max<std::int64_t>(totals[f], 1);
            return "/api/ranking?accel=" + std::string(Filters[f]) +
                   "&offset=" + std::to_string(random() % static_cast<std::uint64_t>(total)) +
                   "&fresh=" + std::to_string(++fresh);
        });
    const double peakRss = peak.Stop();
    const double rss = ProcessMemory(server.ProcessId()).first;
    std::printf("  32 readers for 30 s (24 ranking pages, 4 /Results.bin?top=10000, 4 the "
                "largest computer): %zu requests, p50 %.1f ms, p99 %.1f ms, %d failed; server "
                "memory at most %.1f MB meanwhile, %.1f MB after\n",
                all.LatenciesMs.size(), Percentile(all.LatenciesMs, 0.5),
                Percentile(all.LatenciesMs, 0.99), all.Failures, peakRss, rss);
}

// Uploads a file of 10,000 new computers of batch, each with three results, and prints its
// time; false when the server did not take it.
bool TimeNewComputersUpload(const ServerProcess& server, const char* batch, const char* what) {
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    for (int n = 0; n < UploadComputers; ++n) {
        TGenerated g = Generate(n, batch);
        computers.push_back(g.Computer);
        devices.push_back(std::move(g.Devices));
        results.push_back(std::move(g.Results));
    }
    const auto file = *EncodeResultsFile(computers, devices, results, 1);
    httplib::Client uploader(server.Host(), server.Port());
    uploader.set_read_timeout(600, 0);
    uploader.set_write_timeout(600, 0);
    PeakMemory uploadMemory(server.ProcessId(), std::chrono::milliseconds(20));
    const auto uploadStart = Clock::now();
    const auto uploaded = uploader.Post("/api/results", std::string(file.begin(), file.end()),
                                        "application/octet-stream");
    const double uploadSeconds = Seconds(Clock::now() - uploadStart);
    const double uploadPeak = uploadMemory.Stop();
    if (!uploaded || uploaded->status != 200) {
        std::printf("  upload failed: %s\n", uploaded ? uploaded->body.c_str() : "no answer");
        return false;
    }
    const double rows = UploadComputers * (1.0 + 3 + 3); // computers, results, ranking entries
    std::printf("  upload of %d computers %s (%.1f MB): %.2f s, %.0f computers/s, %.0f rows/s; "
                "server memory at most %.1f MB meanwhile, %.1f MB after\n",
                UploadComputers, what, static_cast<double>(file.size()) / 1e6, uploadSeconds,
                UploadComputers / uploadSeconds, rows / uploadSeconds, uploadPeak,
                ProcessMemory(server.ProcessId()).first);
    return true;
}

void Measure(PostgresCluster& cluster, bool kept, const std::string& serverProgram,
             std::int64_t count) {
    std::printf("\n%lld computers in the database\n", static_cast<long long>(count));
    const std::string database = RunDatabase(cluster, kept, count);

    ServerProcess server(serverProgram, database, {"--uploads-per-minute", "1000"});
    std::printf("  server memory after start: %.1f MB\n", ProcessMemory(server.ProcessId()).first);

    // The first upload reads the database's pages for the first time since it was copied; the
    // second one, of other computers, finds many of them read already, as a server that has
    // been running would. It comes after the pages, which thus find the database of every
    // earlier measurement.
    if (!TimeNewComputersUpload(server, "upload", "into the database just copied"))
        return;
    MeasureRanking(server);
    if (!TimeNewComputersUpload(server, "second upload", "more, the database read before"))
        return;

    TimeUpload(server, OneComputerFile(AllConfigurations),
               "one computer with a result of every configuration");
    TimeUpload(server, OneComputerFile(40000), "one computer with 40,000 results");
    std::int64_t largest = 0;
    {
        pqxx::connection connection(database);
        pqxx::nontransaction work(connection);
        largest = work.exec1("SELECT computer_id FROM results GROUP BY computer_id "
                             "ORDER BY count(*) DESC, computer_id LIMIT 1")[0]
                      .as<std::int64_t>();
    }
    MeasureMemoryUnderReaders(server, largest);
    MeasureUnderSlowClients(server, 200, 4);
    MeasureRefusals(server);
    const auto [rss, peak] = ProcessMemory(server.ProcessId());
    std::printf("  server memory: %.1f MB now, %.1f MB at its peak (the uploads included)\n", rss,
                peak);
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    const QCommandLineOption data("data",
                                  "Keeps the cluster in FOLDER, where each database is generated "
                                  "once and copied for every run.",
                                  "FOLDER");
    parser.addOption(data);
    parser.addPositionalArgument("COMPUTERS",
                                 "Numbers of computers of the databases measured "
                                 "(default 100000 and 1000000).",
                                 "[COMPUTERS...]");
    if (const auto status = ReadToolArguments(
            parser, "bench_server",
            "Measures the results server on databases of generated computers in a cluster of "
            "its own.",
            argc, argv, 0, -1))
        return *status;
    std::vector<std::int64_t> counts;
    for (const QString& given : parser.positionalArguments()) {
        bool number = false;
        counts.push_back(given.toLongLong(&number));
        if (!number || counts.back() < 1) {
            std::fprintf(stderr, "bench_server: \"%s\" is not a number of computers\n",
                         given.toLocal8Bit().constData());
            return 2;
        }
    }
    QCoreApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it is measured
    const std::string keptFolder =
        parser.isSet(data) ? std::filesystem::absolute(parser.value(data).toStdString()).string()
                           : std::string();
    if (counts.empty())
        counts = {100000, 1000000};
    const std::string serverProgram =
        QCoreApplication::applicationDirPath().toStdString() + "/stendograph-server";
    try {
        const QString bindir = "/usr/lib/postgresql/15/bin";
        const QString settings = "-c shared_buffers=256MB -c max_wal_size=4GB";
        std::unique_ptr<PostgresCluster> cluster =
            keptFolder.empty() ? std::make_unique<PostgresCluster>(bindir, settings)
                               : std::make_unique<PostgresCluster>(bindir, settings, keptFolder);
        for (std::int64_t count : counts)
            Measure(*cluster, !keptFolder.empty(), serverProgram, count);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_server: %s\n", error.what());
        return 1;
    }
    return 0;
}
