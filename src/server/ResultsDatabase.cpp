#include "server/ResultsDatabase.h"

#include "chart/ChartModel.h"
#include "server/ResultsSchema.h"
#include "state/RecordColumns.h"

#include <QCryptographicHash>
#include <QString>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <cstring>
#include <pqxx/pqxx>
#include <unordered_set>

namespace {

constexpr std::size_t ComputerSize = sizeof(TComputerRecord);
constexpr std::size_t ResultSize = sizeof(TResultRecord);
constexpr std::size_t SlotSize = sizeof(TStringSlot);

// A failed transaction of an upload that collided with another one is run again this often.
constexpr int UploadAttempts = 8;

// Every statement of the server, prepared on each connection as it is made.
struct TStatement {
    const char* Name;
    const char* Text;
};
const TStatement Statements[] = {
    {"computer_insert",
     "INSERT INTO computers (record_hash, record, devices, processor, video_adapter, chipset, "
     "memory_mb, os_name, owner, time_zone, record_tag) "
     "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) "
     "ON CONFLICT (record_hash) DO NOTHING RETURNING id"},
    {"computer_lock", "SELECT id, record FROM computers WHERE record_hash = $1 FOR UPDATE"},
    {"results_of", "SELECT record FROM results WHERE computer_id = $1 ORDER BY position"},
    {"results_append", "INSERT INTO results (computer_id, position, record) "
                       "SELECT $1, $2 + g, substring($3::bytea FROM g * 112 + 1 FOR 112) "
                       "FROM generate_series(0, length($3::bytea) / 112 - 1) AS g"},
    {"result_replace", "UPDATE results SET record = $3 WHERE computer_id = $1 AND position = $2"},
    {"ranking_clear", "DELETE FROM ranking WHERE computer_id = $1 RETURNING kind"},
    {"ranking_put",
     "INSERT INTO ranking (computer_id, kind, result_position, value) "
     "SELECT $1, e.k, e.p, e.v FROM (VALUES (0, $2::integer, $3::double precision), "
     "(1, $4::integer, $5::double precision), (2, $6::integer, $7::double precision)) "
     "AS e(k, p, v) WHERE e.p >= 0"},
    {"counts_add", "UPDATE ranking_counts SET entries = entries + "
                   "CASE kind WHEN 0 THEN $1::bigint WHEN 1 THEN $2::bigint ELSE $3::bigint END"},
    {"upload_insert",
     "INSERT INTO uploads (address, size, sha256, outcome, blocks_declared, blocks_merged, "
     "computers_added, computers_known, results_added, results_replaced, results_not_later, "
     "left_out) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) RETURNING id"},
    {"upload_count", "SELECT count(*) FROM uploads"},
    // One statement a page: the filter's count and greatest finite value, and the page,
    // picked from the ranking's index alone before its rows are joined. A page past the end
    // still gives the count.
    {"ranking_page_all",
     "WITH page AS (SELECT computer_id, kind, result_position, rank_value FROM ranking "
     "ORDER BY rank_value DESC NULLS LAST, computer_id, kind OFFSET $1 LIMIT $2), "
     "meta AS (SELECT (SELECT coalesce(sum(entries), 0) FROM ranking_counts) AS total, "
     "(SELECT rank_value FROM ranking WHERE rank_value < 'Infinity' "
     "ORDER BY rank_value DESC NULLS LAST LIMIT 1) AS max) "
     "SELECT m.total, m.max, p.computer_id, p.kind, c.record, s.record FROM meta m "
     "LEFT JOIN (page p JOIN computers c ON c.id = p.computer_id "
     "JOIN results s ON s.computer_id = p.computer_id AND s.position = p.result_position) "
     "ON true ORDER BY p.rank_value DESC NULLS LAST, p.computer_id, p.kind"},
    {"ranking_page_kind",
     "WITH page AS (SELECT computer_id, kind, result_position, rank_value FROM ranking "
     "WHERE kind = $3 ORDER BY rank_value DESC NULLS LAST, computer_id OFFSET $1 LIMIT $2), "
     "meta AS (SELECT (SELECT entries FROM ranking_counts WHERE kind = $3) AS total, "
     "(SELECT rank_value FROM ranking WHERE kind = $3 AND rank_value < 'Infinity' "
     "ORDER BY rank_value DESC NULLS LAST LIMIT 1) AS max) "
     "SELECT m.total, m.max, p.computer_id, p.kind, c.record, s.record FROM meta m "
     "LEFT JOIN (page p JOIN computers c ON c.id = p.computer_id "
     "JOIN results s ON s.computer_id = p.computer_id AND s.position = p.result_position) "
     "ON true ORDER BY p.rank_value DESC NULLS LAST, p.computer_id"},
    {"ranking_computers_all",
     "SELECT computer_id FROM ranking ORDER BY rank_value DESC NULLS LAST, computer_id, kind "
     "LIMIT $1"},
    {"ranking_computers_kind", "SELECT computer_id FROM ranking WHERE kind = $2 "
                               "ORDER BY rank_value DESC NULLS LAST, computer_id LIMIT $1"},
    {"computer_by_id", "SELECT record, devices FROM computers WHERE id = $1"},
};

pqxx::binarystring Bytes(const void* data, std::size_t size) {
    return pqxx::binarystring(data, size);
}

template <typename Record> Record RecordFrom(const pqxx::field& field) {
    const pqxx::binarystring bytes(field);
    if (bytes.size() != sizeof(Record))
        throw TDatabaseError("a stored record has " + std::to_string(bytes.size()) +
                             " bytes, not " + std::to_string(sizeof(Record)));
    Record record;
    std::memcpy(&record, bytes.data(), sizeof(Record));
    return record;
}

std::vector<TStringSlot> SlotsFrom(const pqxx::field& field) {
    const pqxx::binarystring bytes(field);
    std::vector<TStringSlot> lines(bytes.size() / SlotSize);
    if (!lines.empty())
        std::memcpy(lines.data(), bytes.data(), lines.size() * SlotSize);
    return lines;
}

std::string Utf8(const TStringSlot& slot) {
    return ReadableText(slot).toStdString();
}

QByteArray Sha256(const void* data, std::size_t size) {
    return QCryptographicHash::hash(
        QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(size)),
        QCryptographicHash::Sha256);
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

// Merges the results read for one computer into its stored list by the rule of the file
// merge; the positions of added and replaced results are noted.
struct TResultMerge {
    std::vector<std::size_t> Replaced;
    std::size_t FirstAdded = 0;
};
TResultMerge MergeResults(std::vector<TResultRecord>& stored,
                          const std::vector<TResultRecord>& read, TUploadOutcome& outcome) {
    TResultMerge merge;
    merge.FirstAdded = stored.size();
    for (const TResultRecord& result : read) {
        std::size_t i = 0;
        while (i < stored.size() && !SameResultKey(stored[i], result))
            ++i;
        if (i == stored.size()) {
            stored.push_back(result);
            ++outcome.ResultsAdded;
        } else if (IsLaterTimestamp(result.Timestamp, stored[i].Timestamp)) {
            stored[i] = result;
            if (i < merge.FirstAdded)
                merge.Replaced.push_back(i);
            ++outcome.ResultsReplaced;
        } else {
            ++outcome.ResultsNotLater;
        }
    }
    return merge;
}

// The counts of the file's computers are merged with the database's: the reader's count of
// results of one file is replaced by what the database took.
void MergeComputer(pqxx::work& work, const TComputerRecord& computer,
                   const std::vector<TStringSlot>& devices,
                   const std::vector<TResultRecord>& results, TUploadOutcome& outcome,
                   std::array<std::int64_t, ChartKindCount>& entryChange) {
    const QByteArray hash = Sha256(&computer, ComputerSize);
    std::string deviceBytes;
    for (const TStringSlot& line : devices)
        deviceBytes.append(reinterpret_cast<const char*>(line.data()), SlotSize);
    const auto hashBytes = Bytes(hash.constData(), static_cast<std::size_t>(hash.size()));
    // Looked up before the insert, so that a known computer does not use up an id.
    pqxx::result known = work.exec_prepared("computer_lock", hashBytes);
    pqxx::result inserted;
    if (known.empty()) {
        inserted = work.exec_prepared(
            "computer_insert", Bytes(hash.constData(), static_cast<std::size_t>(hash.size())),
            Bytes(&computer, ComputerSize), Bytes(deviceBytes.data(), deviceBytes.size()),
            Utf8(computer.Processor), Utf8(computer.VideoAdapter), Utf8(computer.Chipset),
            Utf8(computer.MemoryMB), Utf8(computer.OSName), Utf8(computer.Owner),
            Utf8(computer.TimeZone), Utf8(computer.RecordTag));
        if (inserted.empty()) // another upload added it meanwhile
            known = work.exec_prepared("computer_lock", hashBytes);
    }

    std::int64_t id = 0;
    std::vector<TResultRecord> stored;
    if (!inserted.empty()) {
        id = inserted[0][0].as<std::int64_t>();
        ++outcome.ComputersAdded;
    } else {
        const auto storedComputer = RecordFrom<TComputerRecord>(known[0][1]);
        if (std::memcmp(&storedComputer, &computer, ComputerSize) != 0)
            throw TDatabaseError("two different computers have the same SHA-256");
        id = known[0][0].as<std::int64_t>();
        ++outcome.ComputersKnown;
        for (const pqxx::row& row : work.exec_prepared("results_of", id))
            stored.push_back(RecordFrom<TResultRecord>(row[0]));
    }

    const TResultMerge merge = MergeResults(stored, results, outcome);
    if (merge.Replaced.empty() && merge.FirstAdded == stored.size())
        return; // nothing of the computer changed
    for (std::size_t position : merge.Replaced)
        work.exec_prepared("result_replace", id, static_cast<std::int32_t>(position),
                           Bytes(&stored[position], ResultSize));
    if (merge.FirstAdded < stored.size())
        work.exec_prepared(
            "results_append", id, static_cast<std::int32_t>(merge.FirstAdded),
            Bytes(&stored[merge.FirstAdded], (stored.size() - merge.FirstAdded) * ResultSize));

    // The computer's entries of the ranking, chosen by the window's own rule.
    for (const pqxx::row& row : work.exec_prepared("ranking_clear", id))
        --entryChange[row[0].as<std::size_t>()];
    const auto rep = RepresentativeResults(stored);
    std::string values[ChartKindCount];
    for (int a = 0; a < ChartKindCount; ++a) {
        const std::int32_t r = rep[static_cast<std::size_t>(a)];
        values[a] = r >= 0 ? PostgresReal(stored[static_cast<std::size_t>(r)].TrianglesPerMs) : "0";
        if (r >= 0)
            ++entryChange[static_cast<std::size_t>(a)];
    }
    work.exec_prepared("ranking_put", id, rep[0], values[0], rep[1], values[1], rep[2], values[2]);
}

} // namespace

std::string PostgresReal(double value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "Infinity" : "-Infinity";
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

struct TResultsDatabase::TConnection {
    explicit TConnection(const std::string& connectionString) : Connection(connectionString) {}
    pqxx::connection Connection;
};

class TResultsDatabase::TLease {
public:
    explicit TLease(TResultsDatabase& owner) : owner_(owner), connection_(owner.Acquire()) {}
    ~TLease() { owner_.Release(std::move(connection_)); }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    pqxx::connection& operator*() { return connection_->Connection; }
    // A connection that failed is dropped rather than handed to the next request.
    void Drop() { connection_.reset(); }

private:
    TResultsDatabase& owner_;
    std::unique_ptr<TConnection> connection_;
};

TResultsDatabase::TResultsDatabase(std::string connectionString, int connections)
    : connectionString_(std::move(connectionString)), connectionLimit_(std::max(1, connections)) {
    auto connection = Connect();
    try {
        MigrateResultsSchema(connection->Connection);
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the schema could not be brought up to date: ") +
                             error.what());
    }
    Release(std::move(connection));
    ++connectionsMade_;
}

TResultsDatabase::~TResultsDatabase() = default;

std::unique_ptr<TResultsDatabase::TConnection> TResultsDatabase::Connect() {
    try {
        auto connection = std::make_unique<TConnection>(connectionString_);
        for (const TStatement& statement : Statements)
            connection->Connection.prepare(statement.Name, statement.Text);
        return connection;
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("cannot connect to the database: ") + error.what());
    }
}

std::unique_ptr<TResultsDatabase::TConnection> TResultsDatabase::Acquire() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !idle_.empty() || connectionsMade_ < connectionLimit_; });
    if (!idle_.empty()) {
        auto connection = std::move(idle_.back());
        idle_.pop_back();
        return connection;
    }
    ++connectionsMade_;
    lock.unlock();
    try {
        return Connect();
    } catch (...) {
        lock.lock();
        --connectionsMade_;
        released_.notify_one();
        throw;
    }
}

void TResultsDatabase::Release(std::unique_ptr<TConnection> connection) {
    {
        std::lock_guard lock(mutex_);
        if (connection && connection->Connection.is_open())
            idle_.push_back(std::move(connection));
        else
            --connectionsMade_;
    }
    released_.notify_one();
}

TUploadOutcome TResultsDatabase::Upload(std::span<const std::uint8_t> file,
                                        const std::string& address) {
    // The program's own reader decides what is taken: a file read into an empty store holds
    // each of its computers once, their results merged by the rule already.
    std::vector<TComputerRecord> computers;
    std::vector<std::vector<TStringSlot>> devices;
    std::vector<std::vector<TResultRecord>> results;
    TUploadOutcome read;
    MergeResultsFile(file, LatestPlausibleTimestamp(), computers, devices, results, &read.Report);
    const QByteArray sha = Sha256(file.data(), file.size());
    const std::string leftOut =
        DescribeMergeReport(QStringLiteral("Results.bin"), read.Report).join('\n').toStdString();

    for (int attempt = 1;; ++attempt) {
        TLease lease(*this);
        try {
            TUploadOutcome outcome = read;
            std::array<std::int64_t, ChartKindCount> entryChange = {0, 0, 0};
            pqxx::work work(*lease);
            for (std::size_t i = 0; i < computers.size(); ++i)
                MergeComputer(work, computers[i], devices[i], results[i], outcome, entryChange);
            if (entryChange != std::array<std::int64_t, ChartKindCount>{0, 0, 0})
                work.exec_prepared("counts_add", entryChange[0], entryChange[1], entryChange[2]);
            const pqxx::row upload = work.exec_prepared1(
                "upload_insert", address, static_cast<std::int64_t>(file.size()),
                Bytes(sha.constData(), static_cast<std::size_t>(sha.size())),
                std::string(OutcomeName(read.Report)), read.Report.BlocksDeclared,
                read.Report.BlocksMerged, outcome.ComputersAdded, outcome.ComputersKnown,
                outcome.ResultsAdded, outcome.ResultsReplaced, outcome.ResultsNotLater, leftOut);
            outcome.UploadId = upload[0].as<std::int64_t>();
            work.commit();
            ++generation_;
            return outcome;
        } catch (const pqxx::transaction_rollback&) {
            // A deadlock with another upload or a serialization failure: nothing of this
            // transaction stayed, so it runs again from the start.
            if (attempt == UploadAttempts)
                throw TDatabaseError("the upload kept colliding with others; try again");
        } catch (const pqxx::broken_connection& error) {
            lease.Drop();
            throw TDatabaseError(std::string("the database connection broke: ") + error.what());
        } catch (const pqxx::failure& error) {
            throw TDatabaseError(std::string("the database refused the upload: ") + error.what());
        }
    }
}

TRankingPage TResultsDatabase::Ranking(std::int32_t acceleration, std::int64_t offset,
                                       std::int64_t limit) {
    TLease lease(*this);
    try {
        // A single statement sees one snapshot; it needs no transaction around it.
        pqxx::nontransaction work(*lease);
        TRankingPage page;
        const pqxx::result rows =
            acceleration == 0
                ? work.exec_prepared("ranking_page_all", offset, limit)
                : work.exec_prepared("ranking_page_kind", offset, limit, acceleration - 1);
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
    } catch (const pqxx::broken_connection& error) {
        lease.Drop();
        throw TDatabaseError(std::string("the database connection broke: ") + error.what());
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the ranking could not be read: ") + error.what());
    }
}

std::optional<TStoredComputer> TResultsDatabase::Computer(std::int64_t id) {
    TLease lease(*this);
    try {
        pqxx::read_transaction work(*lease);
        const pqxx::result found = work.exec_prepared("computer_by_id", id);
        if (found.empty())
            return std::nullopt;
        TStoredComputer computer;
        computer.Id = id;
        computer.Computer = RecordFrom<TComputerRecord>(found[0][0]);
        computer.Devices = SlotsFrom(found[0][1]);
        for (const pqxx::row& row : work.exec_prepared("results_of", id))
            computer.Results.push_back(RecordFrom<TResultRecord>(row[0]));
        return computer;
    } catch (const pqxx::broken_connection& error) {
        lease.Drop();
        throw TDatabaseError(std::string("the database connection broke: ") + error.what());
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the computer could not be read: ") + error.what());
    }
}

std::vector<TStoredComputer> TResultsDatabase::TopComputers(std::int32_t acceleration,
                                                            std::int64_t count) {
    std::vector<std::int64_t> ids;
    std::unordered_set<std::int64_t> taken;
    {
        TLease lease(*this);
        try {
            pqxx::read_transaction work(*lease);
            // A computer has at most one entry of each kind.
            const std::int64_t entries = count * ChartKindCount;
            const pqxx::result rows =
                acceleration == 0
                    ? work.exec_prepared("ranking_computers_all", entries)
                    : work.exec_prepared("ranking_computers_kind", entries, acceleration - 1);
            for (const pqxx::row& row : rows) {
                const auto id = row[0].as<std::int64_t>();
                if (taken.insert(id).second)
                    ids.push_back(id);
                if (static_cast<std::int64_t>(ids.size()) == count)
                    break;
            }
        } catch (const pqxx::broken_connection& error) {
            lease.Drop();
            throw TDatabaseError(std::string("the database connection broke: ") + error.what());
        } catch (const pqxx::failure& error) {
            throw TDatabaseError(std::string("the ranking could not be read: ") + error.what());
        }
    }
    std::vector<TStoredComputer> computers;
    for (std::int64_t id : ids)
        if (auto computer = Computer(id))
            computers.push_back(std::move(*computer));
    return computers;
}

std::int64_t TResultsDatabase::UploadCount() {
    TLease lease(*this);
    try {
        pqxx::read_transaction work(*lease);
        return work.exec_prepared1("upload_count")[0].as<std::int64_t>();
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the uploads could not be counted: ") + error.what());
    }
}
