// The results server's store in PostgreSQL: the only code of the server that speaks SQL. Every
// computer once (all its record bytes equal), every result once per computer and test
// configuration (a later Timestamp replacing an earlier one, as the file merge does), the
// representative entries of the ranking kept at upload, and a record of every upload.
//
// Statements are prepared once per connection; the schema is created and upgraded at start by
// the numbered migrations of ResultsSchema.cpp.
#pragma once

#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// The database could not be reached or refused a statement; the message says which.
class TDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One entry of the ranking with what is shown of it.
struct TRankingRow {
    std::int64_t ComputerId;
    std::int32_t Kind;
    TComputerRecord Computer;
    TResultRecord Result; // the representative result of the kind
};

struct TRankingPage {
    std::int64_t Total = 0; // entries the filter admits
    float Max = 0;          // greatest finite value among them; 0 when none is above 0
    std::vector<TRankingRow> Rows;
};

struct TStoredComputer {
    std::int64_t Id = 0;
    TComputerRecord Computer;
    std::vector<TStringSlot> Devices;
    std::vector<TResultRecord> Results; // in the order they were first stored
};

// What an upload did: the reader's report of the file, then what the merge into the database
// took of what the reader took.
struct TUploadOutcome {
    std::int64_t UploadId = 0;
    TMergeReport Report;
    std::int32_t ComputersAdded = 0;
    std::int32_t ComputersKnown = 0;
    std::int32_t ResultsAdded = 0;
    std::int32_t ResultsReplaced = 0;
    std::int32_t ResultsNotLater = 0;
    // The reader took no computer: nothing but the record of the upload is stored.
    bool TookNothing() const { return Report.BlocksMerged == 0; }
};

// The schema version that this program writes; a database of a later one is refused.
int ResultsSchemaVersion();

// A number as PostgreSQL reads it back to the same double: the shortest round-trip decimal, and
// its names for NaN and the infinities.
std::string PostgresReal(double value);

class TResultsDatabase {
public:
    // Connects (connections at most at once, made as needed) with a libpq connection string and
    // brings the schema up to date. Throws TDatabaseError.
    TResultsDatabase(std::string connectionString, int connections);
    ~TResultsDatabase();
    TResultsDatabase(const TResultsDatabase&) = delete;
    TResultsDatabase& operator=(const TResultsDatabase&) = delete;

    // Reads the file with the program's reader and merges what it takes in one transaction,
    // recording the upload (also when the reader takes nothing). address is the sender's.
    TUploadOutcome Upload(std::span<const std::uint8_t> file, const std::string& address);

    // The ranking of all computers for the acceleration filter (0 any, 1 hardware, 2 software,
    // 3 emulation) from entry offset on, at most limit entries.
    TRankingPage Ranking(std::int32_t acceleration, std::int64_t offset, std::int64_t limit);

    // One computer with its devices and results; nothing when there is no such computer.
    std::optional<TStoredComputer> Computer(std::int64_t id);

    // The first count computers of the ranking in ranking order, each with all its results.
    std::vector<TStoredComputer> TopComputers(std::int32_t acceleration, std::int64_t count);

    // How many uploads are recorded.
    std::int64_t UploadCount();

    // Counts the uploads this object stored: what was read before a change is told apart from
    // what is read after it.
    std::uint64_t Generation() const { return generation_.load(); }

private:
    class TLease;
    struct TConnection; // a connection with the statements prepared
    std::unique_ptr<TConnection> Connect();
    std::unique_ptr<TConnection> Acquire();
    void Release(std::unique_ptr<TConnection> connection);

    std::string connectionString_;
    int connectionLimit_;
    int connectionsMade_ = 0;
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<TConnection>> idle_;
    std::atomic<std::uint64_t> generation_ = 0;
};
