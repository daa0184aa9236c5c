// The real parts of the server tests: a PostgreSQL cluster in a temporary folder, started by
// the test (as the unprivileged user nobody when the test runs as root, as PostgreSQL and the
// server both refuse root; bench/ServerHarness.h), the server program itself, and records with
// recognisable contents.
#pragma once

#include "ServerHarness.h"
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

// The cluster of this test program, started at its first use.
PostgresCluster& SharedCluster();

// The server program of the build, started on a database of the cluster.
std::string ServerProgram();
class TestServer : public ServerProcess {
public:
    explicit TestServer(const std::string& database, QStringList extraArguments = {})
        : ServerProcess(ServerProgram(), database, std::move(extraArguments)) {}
};

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
