#include "server/ResultsDatabase.h"

#include "chart/ChartModel.h"
#include "server/ReadReplicas.h"
#include "server/ResultsSchema.h"
#include "server/StoredBytes.h"
#include "server/UploadMerge.h"
#include "state/RecordColumns.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <pqxx/pqxx>
#include <span>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr std::size_t SlotSize = sizeof(TStringSlot);

// A failed transaction of an upload that collided with another one is run again this often.
constexpr int UploadAttempts = 8;
// An upload from this size on closes its connection when done.
constexpr std::int64_t LargeUpload = 1024 * 1024;

// Statements that only read, prepared on the primary's connections and the replicas'.
const TStatement ReadStatements[] = {
    // A page of the ranking in one statement, with the filter's count and greatest value.
    {"ranking_page", "SELECT * FROM ranking_page($1, $2, $3)"},
    {"ranking_computers_all",
     "SELECT computer_id FROM ranking ORDER BY rank_key, computer_id, kind LIMIT $1"},
    {"ranking_computers_kind",
     "SELECT computer_id FROM ranking WHERE kind = $2 ORDER BY rank_key, computer_id LIMIT $1"},
    // Computers with their devices and their results end to end, in the order first stored.
    {"computers_of",
     "SELECT c.id, c.record, c.devices, (SELECT coalesce(string_agg(r.record, ''::bytea "
     "ORDER BY r.position), ''::bytea) FROM results r WHERE r.computer_id = c.id) "
     "FROM computers c WHERE c.id = ANY($1::bigint[])"},
};

// The statements of the upload's record and the review, on the primary's connections only.
const TStatement WriteStatements[] = {
    {"upload_insert",
     "INSERT INTO uploads (address, size, sha256, outcome, blocks_declared, blocks_merged, "
     "computers_added, computers_known, results_added, results_replaced, results_not_later, "
     "left_out, publisher_hash, computers_not_yours, entries_held) VALUES ($1, $2, $3, $4, $5, "
     "$6, $7, $8, $9, $10, $11, $12, NULLIF($13::bytea, ''), $14, $15) RETURNING id"},
    {"upload_count", "SELECT count(*) FROM uploads"},
    {"reviews_waiting",
     "SELECT v.computer_id, v.kind, v.value, coalesce(v.peer_median, 0), v.peers, v.adapter, "
     "c.processor FROM reviews v JOIN computers c ON c.id = v.computer_id "
     "WHERE v.decision IS NULL ORDER BY v.held_at, v.computer_id, v.kind"},
    {"review_computer_lock", "SELECT id FROM computers WHERE id = $1 FOR UPDATE"},
    {"review_ranked", "DELETE FROM ranking WHERE computer_id = $1 AND kind = $2 "
                      "RETURNING result_position, value, adapter"},
    {"review_of", "SELECT result_position, value, adapter, decision FROM reviews "
                  "WHERE computer_id = $1 AND kind = $2"},
    {"review_decide",
     "INSERT INTO reviews (computer_id, kind, result_position, value, adapter, peers, decision, "
     "decided_at) VALUES ($1, $2, $3, $4, $5, 0, $6, now()) ON CONFLICT (computer_id, kind) DO "
     "UPDATE SET decision = EXCLUDED.decision, decided_at = now()"},
    {"review_rank", "INSERT INTO ranking (computer_id, kind, result_position, value, adapter) "
                    "VALUES ($1, $2, $3, $4, $5)"},
};

// Computers read at once for a results file.
constexpr std::size_t ComputersPerRead = 500;

std::vector<TStringSlot> SlotsFrom(const pqxx::field& field) {
    const pqxx::binarystring bytes(field);
    std::vector<TStringSlot> lines(bytes.size() / SlotSize);
    if (!lines.empty())
        std::memcpy(lines.data(), bytes.data(), lines.size() * SlotSize);
    return lines;
}

const char* OutcomeName(const TMergeReport& report) {
    switch (report.Outcome) {
    case TMergeOutcome::Merged:
        return "merged";
    case TMergeOutcome::Stopped:
        return "stopped";
    default:
        return "ignored";
    }
}

// Reads the computers of ids (any order) and hands each to take in the order of ids; false when
// take refused one.
bool ReadComputers(pqxx::transaction_base& work, std::span<const std::int64_t> ids,
                   const std::function<bool(const TStoredComputer&)>& take) {
    TSqlArray list;
    for (const std::int64_t id : ids)
        list.AddInteger(id);
    std::unordered_map<std::int64_t, TStoredComputer> found;
    for (const pqxx::row& row : work.exec_prepared("computers_of", list.Text())) {
        TStoredComputer computer;
        computer.Id = row[0].as<std::int64_t>();
        computer.Computer = RecordFrom<TComputerRecord>(row[1]);
        computer.Devices = SlotsFrom(row[2]);
        const pqxx::binarystring results(row[3]);
        computer.Results.resize(results.size() / sizeof(TResultRecord));
        if (!computer.Results.empty())
            std::memcpy(computer.Results.data(), results.data(),
                        computer.Results.size() * sizeof(TResultRecord));
        found.emplace(computer.Id, std::move(computer));
    }
    for (const std::int64_t id : ids) {
        const auto it = found.find(id);
        if (it != found.end() && !take(it->second))
            return false;
    }
    return true;
}

} // namespace

TResultsDatabase::TResultsDatabase(std::string connectionString, int connections,
                                   const std::vector<std::string>& readDatabases)
    : smallReads_(connectionString, connections, {ReadStatements, WatchStatements()}),
      largeReads_(connectionString, connections, {ReadStatements}),
      writes_(std::move(connectionString), connections,
              {UploadStatements(), WriteStatements, ReadStatements, WatchStatements()}) {
    const auto connection = writes_.ConnectAlone();
    try {
        MigrateResultsSchema(*connection);
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the schema could not be brought up to date: ") +
                             error.what());
    }
    if (!readDatabases.empty())
        replicas_ = std::make_unique<TReadReplicas>(
            smallReads_, readDatabases, connections,
            std::vector<std::span<const TStatement>>{ReadStatements, WatchStatements()});
}

template <typename Work>
auto TResultsDatabase::Read(const char* what, TReadSize size, Work&& work) {
    if (replicas_)
        if (TConnectionPool* replica = replicas_->Choose(size)) {
            try {
                return replica->Run(what, work);
            } catch (const TDatabaseError& error) {
                replicas_->Failed(replica, error.what());
            }
        }
    return (size == TReadSize::Large ? largeReads_ : smallReads_).Run(what, work);
}

TResultsDatabase::~TResultsDatabase() = default;

TUploadOutcome TResultsDatabase::Upload(std::string file, const std::string& address,
                                        const QByteArray& publisherHash) {
    // The program's own reader decides what is taken: a file read into an empty store holds
    // each of its computers once, their results merged by the rule already.
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    TUploadOutcome read;
    // Room for as many computers as the file could hold from the start: the arrays never move
    // while they grow (for a 30 MB file, a copy of 25 MB made and dropped), and the pages of the
    // room left over are never touched.
    const std::size_t mostComputers = file.size() / sizeof(TComputerRecord);
    computers.reserve(mostComputers);
    devices.reserve(mostComputers);
    results.reserve(mostComputers);
    MergeResultsFile({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()},
                     LatestPlausibleTimestamp(), computers, devices, results, &read.Report);
    const QByteArray sha = Sha256(file.data(), file.size());
    const auto fileSize = static_cast<std::int64_t>(file.size());
    // What was read is all the transaction needs: while it runs, the file's bytes would be a
    // third of what a large upload holds.
    std::string().swap(file);
    const std::string leftOut =
        DescribeMergeReport(QStringLiteral("Results.bin"), read.Report).join('\n').toStdString();

    std::uint64_t written = 0;
    std::vector<std::int64_t> ids; // for new computers, kept from one attempt to the next
    TUploadOutcome outcome =
        writes_.Run("the database refused the upload", [&](pqxx::connection& connection) {
            for (int attempt = 1;; ++attempt) {
                try {
                    TUploadOutcome merged = read;
                    pqxx::work work(connection);
                    MergeUploadedComputers(work, computers, devices, results, publisherHash, ids,
                                           merged);
                    const pqxx::row upload = work.exec_prepared1(
                        "upload_insert", address, fileSize, Bytes(sha),
                        std::string(OutcomeName(read.Report)), read.Report.BlocksDeclared,
                        read.Report.BlocksMerged, merged.ComputersAdded, merged.ComputersKnown,
                        merged.ResultsAdded, merged.ResultsReplaced, merged.ResultsNotLater,
                        leftOut, Bytes(publisherHash),
                        static_cast<std::int32_t>(merged.NotYours.size()),
                        static_cast<std::int32_t>(merged.Held.size()));
                    merged.UploadId = upload[0].as<std::int64_t>();
                    work.commit();
                    if (replicas_)
                        written = WalPosition(connection);
                    // libpq keeps the room of the largest statement a connection ever sent or
                    // received; after a large upload it is tens of MB, so the connection goes.
                    if (fileSize >= LargeUpload)
                        connection.disconnect();
                    return merged;
                } catch (const pqxx::transaction_rollback&) {
                    // A serialization failure (or a deadlock, which the order of the row locks
                    // rules out among uploads): nothing of it stayed, so it runs again.
                    if (attempt == UploadAttempts)
                        throw TDatabaseError("the upload kept colliding with others");
                } catch (const TUploadCollision&) {
                    if (attempt == UploadAttempts)
                        throw TDatabaseError("the upload kept colliding with others");
                }
            }
        });
    if (replicas_)
        replicas_->Wrote(written);
    ++generation_;
    return outcome;
}

TRankingPage TResultsDatabase::Ranking(std::int32_t acceleration, std::int64_t offset,
                                       std::int64_t limit) {
    return Read(
        "the ranking could not be read", TReadSize::Small, [&](pqxx::connection& connection) {
            // A single statement sees one snapshot; it needs no transaction around it.
            pqxx::nontransaction work(connection);
            TRankingPage page;
            // The schema's filters are numbered as the accelerations are.
            const pqxx::result rows =
                work.exec_prepared("ranking_page", acceleration, offset, limit);
            for (const pqxx::row& row : rows) {
                page.Total = row[0].is_null() ? 0 : row[0].as<std::int64_t>();
                if (!row[1].is_null() && row[1].as<double>() > 0)
                    page.Max = static_cast<float>(row[1].as<double>());
                if (!row[2].is_null())
                    page.Rows.push_back({row[2].as<std::int64_t>(), row[3].as<std::int32_t>(),
                                         RecordFrom<TComputerRecord>(row[4]),
                                         RecordFrom<TResultRecord>(row[5])});
            }
            return page;
        });
}

std::optional<TStoredComputer> TResultsDatabase::Computer(std::int64_t id) {
    return Read("the computer could not be read", TReadSize::Small,
                [&](pqxx::connection& connection) -> std::optional<TStoredComputer> {
                    pqxx::nontransaction work(connection);
                    std::optional<TStoredComputer> found;
                    ReadComputers(work, std::span(&id, 1), [&](const TStoredComputer& computer) {
                        found = computer;
                        return true;
                    });
                    return found;
                });
}

bool TResultsDatabase::TopComputers(std::int32_t acceleration, std::int64_t count,
                                    const std::function<void(std::size_t)>& start,
                                    const std::function<bool(const TStoredComputer&)>& take) {
    return Read(
        "the ranking could not be read", TReadSize::Large, [&](pqxx::connection& connection) {
            // One snapshot for the ids and every computer, on a replica as on the primary.
            pqxx::transaction<pqxx::repeatable_read, pqxx::read_only> work(connection);
            // A computer has at most one entry of each kind.
            const std::int64_t entries = count * ChartKindCount;
            const pqxx::result rows =
                acceleration == 0
                    ? work.exec_prepared("ranking_computers_all", entries)
                    : work.exec_prepared("ranking_computers_kind", entries, acceleration - 1);
            std::vector<std::int64_t> ids;
            std::unordered_set<std::int64_t> taken;
            for (const pqxx::row& row : rows) {
                const auto id = row[0].as<std::int64_t>();
                if (taken.insert(id).second)
                    ids.push_back(id);
                if (static_cast<std::int64_t>(ids.size()) == count)
                    break;
            }
            start(ids.size());
            for (std::size_t first = 0; first < ids.size(); first += ComputersPerRead) {
                const std::size_t size = std::min(ComputersPerRead, ids.size() - first);
                if (!ReadComputers(work, std::span(ids).subspan(first, size), take))
                    return false;
            }
            return true;
        });
}

std::int64_t TResultsDatabase::UploadCount() {
    return writes_.Run("the uploads could not be counted", [](pqxx::connection& connection) {
        pqxx::read_transaction work(connection);
        return work.exec_prepared1("upload_count")[0].as<std::int64_t>();
    });
}

std::vector<THeldEntry> TResultsDatabase::HeldEntries() {
    return writes_.Run("the held entries could not be read", [](pqxx::connection& connection) {
        pqxx::read_transaction work(connection);
        std::vector<THeldEntry> held;
        for (const pqxx::row& row : work.exec_prepared("reviews_waiting"))
            held.push_back({row[0].as<std::int64_t>(),
                            row[1].as<std::int32_t>(),
                            row[2].as<double>(),
                            row[3].as<double>(),
                            row[4].as<std::int32_t>(),
                            row[5].as<std::string>(),
                            row[6].as<std::string>(),
                            {}});
        return held;
    });
}

bool TResultsDatabase::Review(std::int64_t computerId, std::int32_t kind, bool accept) {
    const bool done =
        writes_.Run("the decision could not be stored", [&](pqxx::connection& connection) {
            pqxx::work work(connection);
            // Uploads of the computer wait meanwhile, as they lock it too.
            if (work.exec_prepared("review_computer_lock", computerId).empty())
                return false;
            const std::string decision = accept ? "accepted" : "rejected";
            const pqxx::result ranked = work.exec_prepared("review_ranked", computerId, kind);
            const pqxx::result review = work.exec_prepared("review_of", computerId, kind);
            const pqxx::result& entry = ranked.empty() ? review : ranked;
            if (entry.empty())
                return false;
            const auto position = entry[0][0].as<std::int32_t>();
            const std::string value = PostgresReal(entry[0][1].as<double>());
            const std::string adapter = entry[0][2].as<std::string>();
            if (accept)
                work.exec_prepared("review_rank", computerId, kind, position, value, adapter);
            work.exec_prepared("review_decide", computerId, kind, position, value, adapter,
                               decision);
            work.commit();
            return true;
        });
    if (done)
        ++generation_;
    return done;
}
