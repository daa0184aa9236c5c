// The results server on databases of 100,000 and 1,000,000 generated computers (or the counts
// given as arguments): how long filling the database takes, the upload of a 10,000-computer
// file (time and rows per second), the upload of one computer with every result a computer may
// hold, ranking latency p50/p99 under 32 concurrent clients on loopback, the ranking's latency
// and the server's memory while slow clients attack it, and the server's memory. Each
// database lives in a private cluster that the benchmark starts and removes.
//
//   bench_server [COMPUTERS...]
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
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <httplib.h>
#include <pqxx/pqxx>
#include <random>
#include <thread>

namespace {

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
    std::int64_t entries[ChartKindCount] = {0, 0, 0};
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
                ++entries[kind];
                ranking << std::make_tuple(
                    n, kind, r, PostgresReal(g.Results[static_cast<std::size_t>(r)].TrianglesPerMs),
                    ReadableText(g.Computer.VideoAdapter).toStdString());
            }
        }
        ranking.complete();
    }
    for (int kind = 0; kind < ChartKindCount; ++kind)
        work.exec("UPDATE ranking_counts SET entries = " + std::to_string(entries[kind]) +
                  " WHERE kind = " + std::to_string(kind));
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
    std::atomic<bool> sampling = true;
    const double before = ProcessMemory(server.ProcessId()).first;
    double peakRss = before;
    std::thread sampler([&] {
        while (sampling) {
            peakRss = std::max(peakRss, ProcessMemory(server.ProcessId()).first);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const TFloodAnswer chunked = SendChunkedUpload(server.Host(), server.Port(), 128u << 20);
    httplib::Client client(server.Host(), server.Port());
    QProcess gzip;
    gzip.start("sh", {"-c", "head -c 268435456 /dev/zero | gzip -9"});
    gzip.waitForFinished(120000);
    const QByteArray bomb = gzip.readAllStandardOutput();
    const auto inflated = client.Post("/api/results", {{"Content-Encoding", "gzip"}},
                                      bomb.toStdString(), "application/octet-stream");
    sampling = false;
    sampler.join();
    std::printf("  refusals: a chunked body of 128 MiB answered %.12s after %zu MiB sent, 256 MiB "
                "in %.0f KiB of gzip answered %d; server memory %.1f MB before, at most %.1f MB "
                "meanwhile\n",
                chunked.Answer.c_str(), chunked.BodySent >> 20, bomb.size() / 1024.0,
                inflated ? inflated->status : -1, before, peakRss);
}

// The ranking read by one client while slow clients hold connections from several addresses,
// and the server's memory meanwhile (sampled every 100 ms).
void MeasureUnderSlowClients(const ServerProcess& server, int connections, int addresses) {
    std::atomic<bool> sampling = true;
    double peakRss = 0;
    std::thread sampler([&] {
        while (sampling) {
            peakRss = std::max(peakRss, ProcessMemory(server.ProcessId()).first);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const TSlowClientFigures figures = RunSlowClients(server.Host(), server.Port(), connections,
                                                      addresses, std::chrono::seconds(20));
    sampling = false;
    sampler.join();
    std::printf("  ranking under %d slow clients from %d addresses for 20 s: %d requests, %d not "
                "answered, p50 %.1f ms, p99 %.1f ms; slow connections opened %d, dropped by the "
                "server %d, at most %d open at once; server memory at most %.1f MB\n",
                connections, addresses, figures.NormalRequests, figures.NormalFailures,
                Percentile(figures.LatenciesMs, 0.5), Percentile(figures.LatenciesMs, 0.99),
                figures.SlowConnects, figures.SlowDropped, figures.MostSlowOpen, peakRss);
}

void Measure(PostgresCluster& cluster, const std::string& serverProgram, std::int64_t count) {
    std::printf("\n%lld computers in the database\n", static_cast<long long>(count));
    const std::string database = cluster.NewDatabase();
    { TResultsDatabase schema(database, 1); } // the server's own migrations
    const auto fillStart = Clock::now();
    FillDatabase(database, count);
    std::printf("  generating the database by COPY, with VACUUM ANALYZE: %.1f s\n",
                Seconds(Clock::now() - fillStart));

    ServerProcess server(serverProgram, database, {"--uploads-per-minute", "1000"});
    const auto [idleRss, idlePeak] = ProcessMemory(server.ProcessId());
    std::printf("  server memory after start: %.1f MB\n", idleRss);
    (void)idlePeak;

    // Upload of a file of 10,000 new computers, each with three results.
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    for (int n = 0; n < UploadComputers; ++n) {
        TGenerated g = Generate(n, "upload");
        computers.push_back(g.Computer);
        devices.push_back(std::move(g.Devices));
        results.push_back(std::move(g.Results));
    }
    const auto file = *EncodeResultsFile(computers, devices, results, 1);
    httplib::Client uploader(server.Host(), server.Port());
    uploader.set_read_timeout(600, 0);
    uploader.set_write_timeout(600, 0);
    const auto uploadStart = Clock::now();
    const auto uploaded = uploader.Post("/api/results", std::string(file.begin(), file.end()),
                                        "application/octet-stream");
    const double uploadSeconds = Seconds(Clock::now() - uploadStart);
    if (!uploaded || uploaded->status != 200) {
        std::printf("  upload failed: %s\n", uploaded ? uploaded->body.c_str() : "no answer");
        return;
    }
    const double rows = UploadComputers * (1.0 + 3 + 3); // computers, results, ranking entries
    std::printf("  upload of %d computers (%.1f MB): %.2f s, %.0f computers/s, %.0f rows/s\n",
                UploadComputers, static_cast<double>(file.size()) / 1e6, uploadSeconds,
                UploadComputers / uploadSeconds, rows / uploadSeconds);

    // Ranking pages under 32 clients at once, each asking again as soon as it has its answer:
    // first the first 50 pages of every filter, as people read the ranking, for a while; then
    // pages at random offsets deep in it, none of which the server has at hand.
    const char* filters[] = {"any", "hw", "sw", "emulation"};
    const auto load = [&](bool deep, std::chrono::seconds duration, int requestsPerClient) {
        std::vector<std::vector<double>> latencies(Clients);
        std::atomic<int> failures = 0;
        const auto start = Clock::now();
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c)
            clients.emplace_back([&, c] {
                std::mt19937 random(static_cast<unsigned>(c + (deep ? 1000 : 0)));
                httplib::Client client(server.Host(), server.Port());
                client.set_keep_alive(true);
                client.set_tcp_nodelay(true);
                client.set_read_timeout(60, 0);
                for (int i = 0; i < requestsPerClient && Clock::now() - start < duration; ++i) {
                    const long offset = deep ? static_cast<long>(random() % (count / 2))
                                             : static_cast<long>(random() % 50) * 20;
                    const std::string path =
                        "/api/ranking?accel=" + std::string(filters[random() % 4]) +
                        "&limit=20&offset=" + std::to_string(offset);
                    const auto sent = Clock::now();
                    const auto response = client.Get(path);
                    latencies[static_cast<std::size_t>(c)].push_back(Seconds(Clock::now() - sent) *
                                                                     1000);
                    if (!response || response->status != 200)
                        ++failures;
                }
            });
        for (auto& client : clients)
            client.join();
        const double seconds = Seconds(Clock::now() - start);
        std::vector<double> all;
        for (const auto& list : latencies)
            all.insert(all.end(), list.begin(), list.end());
        std::printf("  ranking, %s, %d clients at once: %zu requests in %.1f s, p50 %.1f ms, "
                    "p99 %.1f ms, %d failed\n",
                    deep ? "pages at random offsets up to half the ranking"
                         : "the first 50 pages of each filter",
                    Clients, all.size(), seconds, Percentile(all, 0.5), Percentile(all, 0.99),
                    failures.load());
    };
    load(false, std::chrono::seconds(20), 1000000);
    load(true, std::chrono::seconds(120), 8);

    TimeUpload(server, OneComputerFile(AllConfigurations),
               "one computer with a result of every configuration");
    TimeUpload(server, OneComputerFile(40000), "one computer with 40,000 results");
    MeasureUnderSlowClients(server, 200, 4);
    MeasureRefusals(server);
    const auto [rss, peak] = ProcessMemory(server.ProcessId());
    std::printf("  server memory: %.1f MB now, %.1f MB at its peak\n", rss, peak);
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
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
    if (counts.empty())
        counts = {100000, 1000000};
    const std::string serverProgram =
        QCoreApplication::applicationDirPath().toStdString() + "/stendograph-server";
    try {
        PostgresCluster cluster("/usr/lib/postgresql/15/bin",
                                "-c shared_buffers=256MB -c max_wal_size=4GB");
        for (std::int64_t count : counts)
            Measure(cluster, serverProgram, count);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_server: %s\n", error.what());
        return 1;
    }
    return 0;
}
