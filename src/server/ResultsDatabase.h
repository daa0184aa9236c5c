// The results server's store in PostgreSQL: with UploadMerge.cpp and ReadReplicas.cpp the only
// code of the server that speaks SQL. Every computer once (all its record bytes equal) with the
// hash of the publisher key it was first published with, every result once per computer and test
// configuration (a later Timestamp replacing an earlier one, as the file merge does), the
// representative entries of the ranking kept at upload, the entries held for review, and a
// record of every upload.
//
// Statements are prepared once per connection (ConnectionPool.h); the schema is created and
// upgraded at start by the numbered migrations of ResultsSchema.cpp. Uploads and the review go to
// the primary; the ranking, the computers and the results file are read from a streaming
// replica that has caught up, when read databases are given (ReadReplicas.h).
#pragma once

#include "server/ConnectionPool.h"
#include "server/SqlArrays.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// A ranking entry held for review, or the decision on one.
struct THeldEntry {
    std::int64_t ComputerId = 0;
    std::int32_t Kind = 0; // 0 hardware, 1 software, 2 emulation
    double Value = 0;      // triangles per ms
    double Median = 0;     // of the adapter's other entries when it was held
    std::int32_t Peers = 0;
    std::string Adapter;
    std::string Processor;
    std::string Decision; // empty while it waits; "accepted" or "rejected"
};

// A computer of an upload that another publisher key published first: left as it was.
struct TComputerNotYours {
    std::int32_t Computer = 0; // its place among the file's computers, from 1
    std::string Processor;
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
    std::vector<TComputerNotYours> NotYours; // in the file's order
    std::vector<THeldEntry> Held;
    // The reader took no computer: nothing but the record of the upload is stored.
    bool TookNothing() const { return Report.BlocksMerged == 0; }
};

// The schema version that this program writes; a database of a later one is refused.
int ResultsSchemaVersion();

class TReadReplicas;
enum class TReadSize;

class TResultsDatabase {
public:
    // Connects to the primary with a libpq connection string and brings the schema up to date.
    // Small reads (pages, computers), large reads (results files) and writes each have a pool
    // of at most connections, made as needed, so that uploads and results files never hold the
    // connections that pages wait for. Reads go to the replicas of readDatabases (as many
    // connections to each, for each size of read) while they have caught up. Throws
    // TDatabaseError.
    TResultsDatabase(std::string connectionString, int connections,
                     const std::vector<std::string>& readDatabases = {});
    ~TResultsDatabase();
    TResultsDatabase(const TResultsDatabase&) = delete;
    TResultsDatabase& operator=(const TResultsDatabase&) = delete;

    // Reads the file with the program's reader and merges what it takes in one transaction,
    // recording the upload (also when the reader takes nothing). address is the sender's;
    // publisherHash the SHA-256 of its publisher key, empty when it sent none. The file's bytes
    // are let go once read, before the transaction.
    TUploadOutcome Upload(std::string file, const std::string& address,
                          const QByteArray& publisherHash = {});

    // The ranking of all computers for the acceleration filter (0 any, 1 hardware, 2 software,
    // 3 emulation) from entry offset on, at most limit entries.
    TRankingPage Ranking(std::int32_t acceleration, std::int64_t offset, std::int64_t limit);

    // One computer with its devices and results; nothing when there is no such computer.
    std::optional<TStoredComputer> Computer(std::int64_t id);

    // The first count computers of the ranking, each with all its results, read in one
    // snapshot: start learns how many there are, then take is handed each in ranking order. A
    // false from take stops the reading, and TopComputers returns false. After a failed read of
    // a replica it all runs again on the primary, start included.
    bool TopComputers(std::int32_t acceleration, std::int64_t count,
                      const std::function<void(std::size_t computers)>& start,
                      const std::function<bool(const TStoredComputer&)>& take);

    // How many uploads are recorded.
    std::int64_t UploadCount();

    // The entries waiting for review, the longest waiting first.
    std::vector<THeldEntry> HeldEntries();
    // Decides on the entry of that computer and kind (0 hardware, 1 software, 2 emulation):
    // accepted, it is ranked; rejected, it leaves the ranking (whether it was held or ranked)
    // until the computer's result of that entry changes. False when there is no such entry.
    bool Review(std::int64_t computerId, std::int32_t kind, bool accept);

    // Counts the uploads this object stored: what was read before a change is told apart from
    // what is read after it.
    std::uint64_t Generation() const { return generation_.load(); }

private:
    // Runs work on a replica that has caught up, or on the primary, with a connection for reads
    // of that size.
    template <typename Work> auto Read(const char* what, TReadSize size, Work&& work);

    TConnectionPool smallReads_;
    TConnectionPool largeReads_;
    TConnectionPool writes_;
    std::unique_ptr<TReadReplicas> replicas_;
    std::atomic<std::uint64_t> generation_ = 0;
};
