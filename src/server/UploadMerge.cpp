#include "server/UploadMerge.h"

#include "server/OutlierRule.h"
#include "server/StoredBytes.h"
#include "state/RecordColumns.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <unordered_map>

namespace {

constexpr std::size_t ComputerSize = sizeof(TComputerRecord);
constexpr std::size_t ResultSize = sizeof(TResultRecord);
constexpr std::size_t SlotSize = sizeof(TStringSlot);

const TStatement Statements[] = {
    {"computer_lock",
     "SELECT id, record, publisher_hash FROM computers WHERE record_hash = $1 FOR UPDATE"},
    // Which of the hashes (a text array of bytea) are stored already.
    {"computers_known", "SELECT record_hash FROM computers WHERE record_hash = ANY($1::bytea[])"},
    {"computer_ids", "SELECT nextval('computers_id_seq') FROM generate_series(1, $1) ORDER BY 1"},
    {"computer_insert",
     "INSERT INTO computers (id, record_hash, record, devices, processor, video_adapter, chipset, "
     "memory_mb, os_name, owner, time_zone, record_tag, publisher_hash) "
     "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, NULLIF($13::bytea, '')) "
     "ON CONFLICT (record_hash) DO NOTHING RETURNING id"},
    {"computer_claim", "UPDATE computers SET publisher_hash = $2 WHERE id = $1"},
    {"results_of", "SELECT record FROM results WHERE computer_id = $1 ORDER BY position"},
    {"results_append", "INSERT INTO results (computer_id, position, record) "
                       "SELECT $1, $2 + g, substring($3::bytea FROM g * 112 + 1 FOR 112) "
                       "FROM generate_series(0, length($3::bytea) / 112 - 1) AS g"},
    {"result_replace", "UPDATE results SET record = $3 WHERE computer_id = $1 AND position = $2"},
    {"ranking_clear", "DELETE FROM ranking WHERE computer_id = $1 RETURNING kind"},
    {"ranking_put",
     "INSERT INTO ranking (computer_id, kind, result_position, value, adapter) "
     "SELECT $1, e.k, e.p, e.v, $8 FROM (VALUES (0, $2::integer, $3::double precision), "
     "(1, $4::integer, $5::double precision), (2, $6::integer, $7::double precision)) "
     "AS e(k, p, v) WHERE e.p >= 0"},
    // The most recent ranked entries of an adapter, per kind.
    {"adapter_peers",
     "SELECT k.kind, s.computer_id, s.value FROM (VALUES (0), (1), (2)) AS k(kind) "
     "CROSS JOIN LATERAL (SELECT computer_id, value FROM ranking r WHERE r.adapter = $1 "
     "AND r.kind = k.kind AND r.rank_value IS NOT NULL ORDER BY r.computer_id DESC "
     "LIMIT $2) AS s"},
    {"reviews_of",
     "SELECT kind, result_position, value, decision FROM reviews WHERE computer_id = $1"},
    {"review_hold",
     "INSERT INTO reviews (computer_id, kind, result_position, value, adapter, peer_median, "
     "peers) VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (computer_id, kind) DO UPDATE SET "
     "result_position = EXCLUDED.result_position, value = EXCLUDED.value, adapter = "
     "EXCLUDED.adapter, peer_median = EXCLUDED.peer_median, peers = EXCLUDED.peers, "
     "held_at = now(), decision = NULL, decided_at = NULL"},
    {"review_clear", "DELETE FROM reviews WHERE computer_id = $1 AND kind = $2"},
    {"counts_add", "UPDATE ranking_counts SET entries = entries + "
                   "CASE kind WHEN 0 THEN $1::bigint WHEN 1 THEN $2::bigint ELSE $3::bigint END"},
};

// What merging the read results into the stored ones by the rule of the file merge changes:
// the positions replaced, the first position appended, and the counts. Linear in the results:
// the stored ones are found by their configuration in a hash map.
struct TResultMerge {
    std::vector<std::size_t> Replaced;
    std::size_t FirstAdded = 0;
    std::int32_t Added = 0, ReplacedCount = 0, NotLater = 0;
    bool Changes() const { return Added > 0 || ReplacedCount > 0; }
};
TResultMerge MergeResults(std::vector<TResultRecord>& stored,
                          const std::vector<TResultRecord>& read) {
    TResultMerge merge;
    merge.FirstAdded = stored.size();
    std::unordered_map<TResultKey, std::size_t, TResultKeyHash> positions;
    positions.reserve(stored.size() + read.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        positions.try_emplace(ResultKeyOf(stored[i]), i);
    for (const TResultRecord& result : read) {
        const auto [it, added] = positions.try_emplace(ResultKeyOf(result), stored.size());
        const std::size_t i = it->second;
        if (added) {
            stored.push_back(result);
            ++merge.Added;
        } else if (IsLaterTimestamp(result.Timestamp, stored[i].Timestamp)) {
            stored[i] = result;
            if (i < merge.FirstAdded)
                merge.Replaced.push_back(i);
            ++merge.ReplacedCount;
        } else {
            ++merge.NotLater;
        }
    }
    return merge;
}

// The ranked entries of each adapter as they were before this upload, read once per adapter.
class TPeerEntries {
public:
    struct TEntry {
        std::int64_t ComputerId;
        double Value;
    };
    const std::array<std::vector<TEntry>, ChartKindCount>& Of(pqxx::work& work,
                                                              const std::string& adapter) {
        const auto [it, added] = entries_.try_emplace(adapter);
        if (added)
            for (const pqxx::row& row :
                 work.exec_prepared("adapter_peers", adapter, OutlierPeerSample))
                it->second[row[0].as<std::size_t>()].push_back(
                    {row[1].as<std::int64_t>(), row[2].as<double>()});
        return it->second;
    }

private:
    std::map<std::string, std::array<std::vector<TEntry>, ChartKindCount>> entries_;
};

// A decision or a wait that was recorded for an entry of the computer.
struct TStoredReview {
    std::int32_t Position;
    double Value;
    std::string Decision; // empty while waiting
};

class TUploadMerge {
public:
    TUploadMerge(pqxx::work& work, const QByteArray& publisherHash, TUploadOutcome& outcome)
        : work_(work), publisherHash_(publisherHash), outcome_(outcome) {}

    // newId: the id a computer not stored yet takes; 0 for one that is stored.
    void Computer(std::int32_t fileNumber, const TComputerRecord& computer,
                  const std::vector<TStringSlot>& devices,
                  const std::vector<TResultRecord>& results, const QByteArray& hash,
                  std::int64_t newId);
    void Finish() {
        if (entryChange_ != std::array<std::int64_t, ChartKindCount>{0, 0, 0})
            AddRankingEntries(work_, entryChange_);
    }

private:
    void PutEntries(std::int64_t id, bool known, const TComputerRecord& computer,
                    const std::vector<TResultRecord>& stored);

    pqxx::work& work_;
    const QByteArray& publisherHash_;
    TUploadOutcome& outcome_;
    std::array<std::int64_t, ChartKindCount> entryChange_ = {0, 0, 0};
    TPeerEntries peers_;
};

void TUploadMerge::Computer(std::int32_t fileNumber, const TComputerRecord& computer,
                            const std::vector<TStringSlot>& devices,
                            const std::vector<TResultRecord>& results, const QByteArray& hash,
                            std::int64_t newId) {
    pqxx::result known;
    pqxx::result inserted;
    if (newId == 0) {
        known = work_.exec_prepared("computer_lock", Bytes(hash));
    } else {
        std::string deviceBytes;
        for (const TStringSlot& line : devices)
            deviceBytes.append(reinterpret_cast<const char*>(line.data()), SlotSize);
        inserted = work_.exec_prepared(
            "computer_insert", newId, Bytes(hash), Bytes(&computer, ComputerSize),
            Bytes(deviceBytes.data(), deviceBytes.size()), StoredText(computer.Processor),
            StoredText(computer.VideoAdapter), StoredText(computer.Chipset),
            StoredText(computer.MemoryMB), StoredText(computer.OSName), StoredText(computer.Owner),
            StoredText(computer.TimeZone), StoredText(computer.RecordTag), Bytes(publisherHash_));
        if (inserted.empty()) // another upload added it meanwhile
            known = work_.exec_prepared("computer_lock", Bytes(hash));
    }

    std::int64_t id = 0;
    std::vector<TResultRecord> stored;
    if (!inserted.empty()) {
        id = inserted[0][0].as<std::int64_t>();
        ++outcome_.ComputersAdded;
    } else {
        if (BytesOf(known[0][1]) !=
            QByteArray(reinterpret_cast<const char*>(&computer), ComputerSize))
            throw TDatabaseError("two different computers have the same SHA-256");
        id = known[0][0].as<std::int64_t>();
        ++outcome_.ComputersKnown;
        for (const pqxx::row& row : work_.exec_prepared("results_of", id))
            stored.push_back(RecordFrom<TResultRecord>(row[0]));
    }

    const TResultMerge merge = MergeResults(stored, results);
    outcome_.ResultsNotLater += merge.NotLater;
    if (!merge.Changes())
        return; // nothing of the computer changes
    if (inserted.empty()) {
        const bool claimed = !known[0][2].is_null();
        if (claimed && BytesOf(known[0][2]) != publisherHash_) {
            outcome_.NotYours.push_back({fileNumber, StoredText(computer.Processor)});
            return;
        }
        if (!claimed && !publisherHash_.isEmpty())
            work_.exec_prepared("computer_claim", id, Bytes(publisherHash_));
    }
    outcome_.ResultsAdded += merge.Added;
    outcome_.ResultsReplaced += merge.ReplacedCount;

    for (std::size_t position : merge.Replaced)
        work_.exec_prepared("result_replace", id, static_cast<std::int32_t>(position),
                            Bytes(&stored[position], ResultSize));
    if (merge.FirstAdded < stored.size())
        work_.exec_prepared(
            "results_append", id, static_cast<std::int32_t>(merge.FirstAdded),
            Bytes(&stored[merge.FirstAdded], (stored.size() - merge.FirstAdded) * ResultSize));
    PutEntries(id, inserted.empty(), computer, stored);
}

// The computer's entries of the ranking, chosen by the window's own rule; each one ranked,
// or held for review when the outlier rule says so, unless a decision was made on that very
// result before.
void TUploadMerge::PutEntries(std::int64_t id, bool known, const TComputerRecord& computer,
                              const std::vector<TResultRecord>& stored) {
    std::array<std::optional<TStoredReview>, ChartKindCount> reviews;
    if (known) {
        for (const pqxx::row& row : work_.exec_prepared("ranking_clear", id))
            --entryChange_[row[0].as<std::size_t>()];
        for (const pqxx::row& row : work_.exec_prepared("reviews_of", id))
            reviews[row[0].as<std::size_t>()] =
                TStoredReview{row[1].as<std::int32_t>(), row[2].as<double>(),
                              row[3].is_null() ? std::string() : row[3].as<std::string>()};
    }
    const std::string adapter = StoredText(computer.VideoAdapter);
    const auto rep = RepresentativeResults(stored);
    std::array<std::int32_t, ChartKindCount> ranked = {-1, -1, -1};
    std::string values[ChartKindCount] = {"0", "0", "0"};
    for (std::size_t a = 0; a < ChartKindCount; ++a) {
        const std::int32_t r = rep[a];
        const std::optional<TStoredReview>& review = reviews[a];
        if (r < 0) {
            if (review)
                work_.exec_prepared("review_clear", id, static_cast<std::int32_t>(a));
            continue;
        }
        const double value = stored[static_cast<std::size_t>(r)].TrianglesPerMs;
        if (review && review->Position == r && review->Value == value) {
            if (review->Decision == "accepted") {
                ranked[a] = r;
                values[a] = PostgresReal(value);
            }
            continue; // still rejected or still waiting
        }
        std::vector<double> peerValues;
        for (const TPeerEntries::TEntry& peer : peers_.Of(work_, adapter)[a])
            if (peer.ComputerId != id)
                peerValues.push_back(peer.Value);
        const TOutlierJudgement judgement = JudgeOutlier(value, std::move(peerValues));
        if (judgement.Held) {
            work_.exec_prepared("review_hold", id, static_cast<std::int32_t>(a), r,
                                PostgresReal(value), adapter, PostgresReal(judgement.Median),
                                judgement.Peers);
            outcome_.Held.push_back({id,
                                     static_cast<std::int32_t>(a),
                                     value,
                                     judgement.Median,
                                     judgement.Peers,
                                     adapter,
                                     StoredText(computer.Processor),
                                     {}});
            continue;
        }
        if (review)
            work_.exec_prepared("review_clear", id, static_cast<std::int32_t>(a));
        ranked[a] = r;
        values[a] = PostgresReal(value);
    }
    for (std::size_t a = 0; a < ChartKindCount; ++a)
        if (ranked[a] >= 0)
            ++entryChange_[a];
    if (ranked != std::array<std::int32_t, ChartKindCount>{-1, -1, -1})
        work_.exec_prepared("ranking_put", id, ranked[0], values[0], ranked[1], values[1],
                            ranked[2], values[2], adapter);
}

} // namespace

std::span<const TStatement> UploadStatements() {
    return Statements;
}

std::string StoredText(const TStringSlot& slot) {
    return ReadableText(slot).toStdString();
}

void AddRankingEntries(pqxx::work& work, const std::array<std::int64_t, ChartKindCount>& change) {
    work.exec_prepared("counts_add", change[0], change[1], change[2]);
}

void MergeUploadedComputers(pqxx::work& work, const std::vector<TComputerRecord>& computers,
                            const std::vector<std::vector<TStringSlot>>& devices,
                            const std::vector<std::vector<TResultRecord>>& results,
                            const QByteArray& publisherHash, TUploadOutcome& outcome) {
    std::vector<QByteArray> hashes;
    hashes.reserve(computers.size());
    for (const TComputerRecord& computer : computers)
        hashes.push_back(Sha256(&computer, ComputerSize));

    // New computers take their ids in the order of the file, as the ranking's ties and the
    // pages show them; a known one uses up none.
    QByteArray hashList = "{";
    for (const QByteArray& hash : hashes)
        hashList += (hashList.size() > 1 ? ",\"\\\\x" : "\"\\\\x") + hash.toHex() + '"';
    hashList += '}';
    std::set<QByteArray> stored;
    for (const pqxx::row& row : work.exec_prepared("computers_known", hashList.toStdString()))
        stored.insert(BytesOf(row[0]));
    std::vector<std::int64_t> newIds(computers.size(), 0);
    std::size_t newCount = 0;
    for (const QByteArray& hash : hashes)
        newCount += stored.count(hash) == 0 ? 1 : 0;
    if (newCount > 0) {
        const pqxx::result ids =
            work.exec_prepared("computer_ids", static_cast<std::int64_t>(newCount));
        std::size_t next = 0;
        for (std::size_t i = 0; i < computers.size(); ++i)
            if (stored.count(hashes[i]) == 0)
                newIds[i] = ids[static_cast<pqxx::result::size_type>(next++)][0].as<std::int64_t>();
    }

    // Row locks are taken, and rows inserted, in the order of the record hashes, whatever the
    // order of the file.
    std::vector<std::size_t> order(computers.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&hashes](std::size_t a, std::size_t b) { return hashes[a] < hashes[b]; });
    TUploadMerge merge(work, publisherHash, outcome);
    for (const std::size_t i : order)
        merge.Computer(static_cast<std::int32_t>(i + 1), computers[i], devices[i], results[i],
                       hashes[i], newIds[i]);
    merge.Finish();
    std::sort(outcome.NotYours.begin(), outcome.NotYours.end(),
              [](const auto& a, const auto& b) { return a.Computer < b.Computer; });
}
