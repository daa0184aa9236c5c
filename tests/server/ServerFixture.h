// The real parts of the server tests: a PostgreSQL cluster in a temporary folder, started by
// the test (as the unprivileged user nobody when the test runs as root, as PostgreSQL and the
// server both refuse root), the server program itself, and records with recognisable contents.
#pragma once

#include "chart/ChartModel.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Runs a program as the user the tests run servers as; its exit status, or -1 when it did not
// finish in time. The output goes to *output when given.
int RunAsServerUser(const QStringList& command, QString* output = nullptr, int timeoutMs = 120000);
// The prefix that runs a command as that user: empty unless the test runs as root.
QStringList ServerUserPrefix();

// A cluster of its own, removed with its folder when the object goes.
class PostgresCluster {
public:
    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;
    // A new, empty database of the cluster, as a libpq connection string.
    std::string NewDatabase();
    const std::filesystem::path& Folder() const { return dir_.path(); }

private:
    TempDir dir_;
    int databases_ = 0;
};

// The cluster of this test program, started at its first use.
PostgresCluster& SharedCluster();

// stendograph-server on 127.0.0.1 on a free port, stopped by SIGTERM when the object goes.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& database, QStringList extraArguments = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    std::string Url() const { return "http://" + host_ + ":" + std::to_string(port_); }
    // Stops it; its exit status, or -1 when it did not stop by itself.
    int Stop();
    QString ErrorOutput();

private:
    TempDir dir_;
    QProcess process_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
};

// The server program of the build.
std::string ServerProgram();

// ---- Records ---------------------------------------------------------------------------------

// A stored text: the UTF-8 text in code page 1251, scrambled.
TStringSlot Scrambled(const std::string& text);

// A computer of that kind of capability: 0 hardware vertex processing, 1 software, 2 no HAL.
TComputerRecord TestComputer(const std::string& processor, const std::string& adapter,
                             int capability = 0);
// A result of kind 0 hardware, 1 software, 2 emulation, in the standard configuration.
TResultRecord TestResult(double timestamp, int width, int height, int depth, int kind,
                         float trianglesPerMs);

struct TTestStore {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;
    void Add(const TComputerRecord& computer, std::vector<TResultRecord> results,
             std::vector<TStringSlot> devices = {}) {
        Computers.push_back(computer);
        Results.push_back(std::move(results));
        Devices.push_back(std::move(devices));
    }
    std::vector<std::uint8_t> File() const;
    // Merges the file as the program's reader does.
    TMergeReport Merge(const std::vector<std::uint8_t>& file);
};

// A store of count computers with results of every kind in several modes, with ties, damaged
// values (NaN, infinities) and texts of both alphabets; the same for the same seed.
TTestStore VariedStore(int count, unsigned seed, const std::string& tag);
