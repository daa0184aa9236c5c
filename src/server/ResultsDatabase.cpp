#include "server/ResultsDatabase.h"

#include "chart/ChartModel.h"
#include "server/ResultsSchema.h"
#include "server/StoredBytes.h"
#include "server/UploadMerge.h"
#include "state/RecordColumns.h"

#include <QString>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <cstring>
#include <pqxx/pqxx>
#include <unordered_set>

namespace {

constexpr std::size_t SlotSize = sizeof(TStringSlot);

// A failed transaction of an upload that collided with another one is run again this often.
constexpr int UploadAttempts = 8;

// The statements of reading and review, prepared on each connection as it is made.
const TStatement Statements[] = {
    {"upload_insert",
     "INSERT INTO uploads (address, size, sha256, outcome, blocks_declared, blocks_merged, "
     "computers_added, computers_known, results_added, results_replaced, results_not_later, "
     "left_out, publisher_hash, computers_not_yours, entries_held) VALUES ($1, $2, $3, $4, $5, "
     "$6, $7, $8, $9, $10, $11, $12, NULLIF($13::bytea, ''), $14, $15) RETURNING id"},
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

std::vector<std::span<const TStatement>> AllStatements() {
    return {UploadStatements(), Statements};
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

TResultsDatabase::TResultsDatabase(std::string connectionString, int connections)
    : pool_(std::move(connectionString), connections, AllStatements()) {
    const auto connection = pool_.ConnectAlone();
    try {
        MigrateResultsSchema(*connection);
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the schema could not be brought up to date: ") +
                             error.what());
    }
}

TResultsDatabase::~TResultsDatabase() = default;

TUploadOutcome TResultsDatabase::Upload(std::span<const std::uint8_t> file,
                                        const std::string& address,
                                        const QByteArray& publisherHash) {
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

    TUploadOutcome outcome =
        pool_.Run("the database refused the upload", [&](pqxx::connection& connection) {
            for (int attempt = 1;; ++attempt) {
                try {
                    TUploadOutcome merged = read;
                    pqxx::work work(connection);
                    MergeUploadedComputers(work, computers, devices, results, publisherHash,
                                           merged);
                    const pqxx::row upload = work.exec_prepared1(
                        "upload_insert", address, static_cast<std::int64_t>(file.size()),
                        Bytes(sha), std::string(OutcomeName(read.Report)),
                        read.Report.BlocksDeclared, read.Report.BlocksMerged, merged.ComputersAdded,
                        merged.ComputersKnown, merged.ResultsAdded, merged.ResultsReplaced,
                        merged.ResultsNotLater, leftOut, Bytes(publisherHash),
                        static_cast<std::int32_t>(merged.NotYours.size()),
                        static_cast<std::int32_t>(merged.Held.size()));
                    merged.UploadId = upload[0].as<std::int64_t>();
                    work.commit();
                    return merged;
                } catch (const pqxx::transaction_rollback&) {
                    // A serialization failure (or a deadlock, which the order of the row locks
                    // rules out among uploads): nothing of it stayed, so it runs again.
                    if (attempt == UploadAttempts)
                        throw TDatabaseError("the upload kept colliding with others");
                }
            }
        });
    ++generation_;
    return outcome;
}

TRankingPage TResultsDatabase::Ranking(std::int32_t acceleration, std::int64_t offset,
                                       std::int64_t limit) {
    return pool_.Run("the ranking could not be read", [&](pqxx::connection& connection) {
        // A single statement sees one snapshot; it needs no transaction around it.
        pqxx::nontransaction work(connection);
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
    });
}

std::optional<TStoredComputer> TResultsDatabase::Computer(std::int64_t id) {
    return pool_.Run("the computer could not be read",
                     [&](pqxx::connection& connection) -> std::optional<TStoredComputer> {
                         pqxx::read_transaction work(connection);
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
                     });
}

std::vector<TStoredComputer> TResultsDatabase::TopComputers(std::int32_t acceleration,
                                                            std::int64_t count) {
    const std::vector<std::int64_t> ids =
        pool_.Run("the ranking could not be read", [&](pqxx::connection& connection) {
            pqxx::read_transaction work(connection);
            // A computer has at most one entry of each kind.
            const std::int64_t entries = count * ChartKindCount;
            const pqxx::result rows =
                acceleration == 0
                    ? work.exec_prepared("ranking_computers_all", entries)
                    : work.exec_prepared("ranking_computers_kind", entries, acceleration - 1);
            std::vector<std::int64_t> found;
            std::unordered_set<std::int64_t> taken;
            for (const pqxx::row& row : rows) {
                const auto id = row[0].as<std::int64_t>();
                if (taken.insert(id).second)
                    found.push_back(id);
                if (static_cast<std::int64_t>(found.size()) == count)
                    break;
            }
            return found;
        });
    std::vector<TStoredComputer> computers;
    for (std::int64_t id : ids)
        if (auto computer = Computer(id))
            computers.push_back(std::move(*computer));
    return computers;
}

std::int64_t TResultsDatabase::UploadCount() {
    return pool_.Run("the uploads could not be counted", [](pqxx::connection& connection) {
        pqxx::read_transaction work(connection);
        return work.exec_prepared1("upload_count")[0].as<std::int64_t>();
    });
}

std::vector<THeldEntry> TResultsDatabase::HeldEntries() {
    return pool_.Run("the held entries could not be read", [](pqxx::connection& connection) {
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
        pool_.Run("the decision could not be stored", [&](pqxx::connection& connection) {
            pqxx::work work(connection);
            // Uploads of the computer wait meanwhile, as they lock it too.
            if (work.exec_prepared("review_computer_lock", computerId).empty())
                return false;
            std::array<std::int64_t, ChartKindCount> change = {0, 0, 0};
            const auto k = static_cast<std::size_t>(kind);
            const std::string decision = accept ? "accepted" : "rejected";
            const pqxx::result ranked = work.exec_prepared("review_ranked", computerId, kind);
            const pqxx::result review = work.exec_prepared("review_of", computerId, kind);
            const pqxx::result& entry = ranked.empty() ? review : ranked;
            if (entry.empty())
                return false;
            const auto position = entry[0][0].as<std::int32_t>();
            const std::string value = PostgresReal(entry[0][1].as<double>());
            const std::string adapter = entry[0][2].as<std::string>();
            if (!ranked.empty())
                --change[k];
            if (accept) {
                work.exec_prepared("review_rank", computerId, kind, position, value, adapter);
                ++change[k];
            }
            work.exec_prepared("review_decide", computerId, kind, position, value, adapter,
                               decision);
            AddRankingEntries(work, change);
            work.commit();
            return true;
        });
    if (done)
        ++generation_;
    return done;
}
