#include "server/UploadMerge.h"

#include "chart/ChartModel.h"
#include "server/OutlierRule.h"
#include "server/SqlArrays.h"
#include "server/StoredBytes.h"
#include "state/RecordColumns.h"

#include <algorithm>
#include <array>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <unordered_map>

namespace {

constexpr std::size_t ComputerSize = sizeof(TComputerRecord);
constexpr std::size_t ResultSize = sizeof(TResultRecord);
constexpr std::size_t SlotSize = sizeof(TStringSlot);
constexpr std::size_t HashSize = 32;
// The text columns of a computer, in the order of the statement computers_insert ($8 on).
constexpr std::size_t TextColumns = 8;
// New computers go to the database this many at a time: every byte of a statement's parameters
// is held three times while it is sent (the arrays, the parameters, the client library's
// buffer, which keeps its size until the connection closes), and 1,000 computers are 3 MB.
constexpr std::size_t ComputersPerInsert = 1000;

// Arrays arrive as text ($n::bigint[] and the like); the records' bytes as one binary bytea,
// record n (from 1) at n * size - size + 1.
const TStatement Statements[] = {
    // Uploads one at a time, from here to their commit (a lock of the transaction's own, which
    // the review does not take, so that it orders before every row lock of an upload). The
    // upload's statements run on plans made for any values: a plan made for the values of a
    // large upload would first copy its megabytes of parameters into the planner (a third of a
    // second for 10,000 computers), and would come out the same.
    {"uploads_one_at_a_time", "SELECT pg_advisory_xact_lock(7360291845), "
                              "set_config('plan_cache_mode', 'force_generic_plan', true)"},
    // The stored computers among the hashes, locked in the order of their hashes.
    {"computers_lock", "SELECT id, record_hash, record, publisher_hash FROM computers "
                       "WHERE record_hash = ANY($1::bytea[]) ORDER BY record_hash FOR UPDATE"},
    {"computers_results", "SELECT computer_id, record FROM results "
                          "WHERE computer_id = ANY($1::bigint[]) ORDER BY computer_id, position"},
    {"computer_ids", "SELECT nextval('computers_id_seq') FROM generate_series(1, $1) ORDER BY 1"},
    // New computers in the order of the arrays (that of their hashes). One that another upload
    // stored meanwhile is left out, and the caller sees fewer rows inserted.
    // The texts come as one array per column, all unnested side by side: an element of a text
    // array is found by walking the elements before it, so one array of every text taken by
    // index would cost the square of the computers.
    {"computers_insert",
     "INSERT INTO computers (id, record_hash, record, devices, processor, video_adapter, chipset, "
     "memory_mb, os_name, owner, time_zone, record_tag, publisher_hash) "
     "SELECT c.id, substring($2::bytea FROM c.n::integer * 32 - 31 FOR 32), "
     "substring($3::bytea FROM c.n::integer * 2472 - 2471 FOR 2472), "
     "substring($4::bytea FROM c.devices_from + 1 FOR c.devices_length), "
     "c.processor, c.video_adapter, c.chipset, c.memory_mb, c.os_name, c.owner, c.time_zone, "
     "c.record_tag, NULLIF($7::bytea, '') "
     "FROM unnest($1::bigint[], $5::integer[], $6::integer[], $8::text[], $9::text[], "
     "$10::text[], $11::text[], $12::text[], $13::text[], $14::text[], $15::text[]) "
     "WITH ORDINALITY AS c(id, devices_from, devices_length, processor, video_adapter, chipset, "
     "memory_mb, os_name, owner, time_zone, record_tag, n) "
     "ORDER BY c.n ON CONFLICT (record_hash) DO NOTHING"},
    {"computers_claim", "UPDATE computers SET publisher_hash = $2 WHERE id = ANY($1::bigint[])"},
    {"results_insert",
     "INSERT INTO results (computer_id, position, record) "
     "SELECT r.computer_id, r.position, substring($3::bytea FROM r.n::integer * 112 - 111 FOR 112) "
     "FROM unnest($1::bigint[], $2::integer[]) WITH ORDINALITY AS r(computer_id, position, n)"},
    {"results_replace",
     "UPDATE results s SET record = substring($3::bytea FROM r.n::integer * 112 - 111 FOR 112) "
     "FROM unnest($1::bigint[], $2::integer[]) WITH ORDINALITY AS r(computer_id, position, n) "
     "WHERE s.computer_id = r.computer_id AND s.position = r.position"},
    {"ranking_clear", "DELETE FROM ranking WHERE computer_id = ANY($1::bigint[])"},
    // The most recent ranked entries of each adapter, per kind, all from the index
    // ranking_adapter, which holds the value (PostgreSQL takes NaN as equal to NaN, so the NaN
    // values are left out).
    {"adapters_peers",
     "SELECT a.adapter, k.kind, s.computer_id, s.value FROM unnest($1::text[]) AS a(adapter) "
     "CROSS JOIN (VALUES (0), (1), (2)) AS k(kind) "
     "CROSS JOIN LATERAL (SELECT computer_id, value FROM ranking r WHERE r.adapter = a.adapter "
     "AND r.kind = k.kind AND r.value <> 'NaN' ORDER BY r.computer_id DESC "
     "LIMIT $2) AS s"},
    {"computers_reviews", "SELECT computer_id, kind, result_position, value, decision "
                          "FROM reviews WHERE computer_id = ANY($1::bigint[])"},
    {"reviews_hold",
     "INSERT INTO reviews (computer_id, kind, result_position, value, adapter, peer_median, "
     "peers) SELECT * FROM unnest($1::bigint[], $2::smallint[], $3::integer[], "
     "$4::double precision[], $5::text[], $6::double precision[], $7::integer[]) "
     "ON CONFLICT (computer_id, kind) DO UPDATE SET "
     "result_position = EXCLUDED.result_position, value = EXCLUDED.value, adapter = "
     "EXCLUDED.adapter, peer_median = EXCLUDED.peer_median, peers = EXCLUDED.peers, "
     "held_at = now(), decision = NULL, decided_at = NULL"},
    {"reviews_clear", "DELETE FROM reviews v USING unnest($1::bigint[], $2::smallint[]) "
                      "AS c(computer_id, kind) "
                      "WHERE v.computer_id = c.computer_id AND v.kind = c.kind"},
    {"ranking_insert", "INSERT INTO ranking (computer_id, kind, result_position, value, adapter) "
                       "SELECT * FROM unnest($1::bigint[], $2::smallint[], $3::integer[], "
                       "$4::double precision[], $5::text[])"},
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

// A computer of the file that is stored already, as locked.
struct TKnownComputer {
    std::int64_t Id = 0;
    QByteArray Record;
    std::optional<QByteArray> Publisher;
};

// A computer of the file whose results change: its results merged with the stored ones.
struct TChangedComputer {
    std::size_t Index = 0; // in the file, from 0
    std::int64_t Id = 0;
    bool Known = false;
    std::vector<TResultRecord> Results;
    TResultMerge Merge;
};

// A decision or a wait that was recorded for an entry of a computer.
struct TStoredReview {
    std::int32_t Position;
    double Value;
    std::string Decision; // empty while waiting
};

// The ranked entries of an adapter before this upload, per kind.
struct TPeer {
    std::int64_t ComputerId;
    double Value;
};
using TPeers = std::array<std::vector<TPeer>, ChartKindCount>;

class TUploadMerge {
public:
    TUploadMerge(pqxx::work& work, const std::vector<TComputerRecord>& computers,
                 const std::vector<std::vector<TStringSlot>>& devices,
                 const std::vector<std::vector<TResultRecord>>& results,
                 const QByteArray& publisherHash, std::vector<std::int64_t>& ids,
                 TUploadOutcome& outcome)
        : work_(work), computers_(computers), devices_(devices), results_(results),
          publisherHash_(publisherHash), ids_(ids), outcome_(outcome) {}

    void Run();

private:
    std::map<QByteArray, TKnownComputer> LockKnown();
    std::map<std::int64_t, std::vector<TResultRecord>>
    StoredResults(const std::map<QByteArray, TKnownComputer>& known);
    void InsertNew(const std::vector<std::size_t>& added, std::vector<std::int64_t>& ids);
    void InsertBatch(std::span<const std::size_t> batch, const std::vector<std::int64_t>& ids);
    void StoreResults();
    void PutEntries();

    QByteArray RecordBytes(std::size_t i) const {
        return QByteArray(reinterpret_cast<const char*>(&computers_[i]), ComputerSize);
    }

    pqxx::work& work_;
    const std::vector<TComputerRecord>& computers_;
    const std::vector<std::vector<TStringSlot>>& devices_;
    const std::vector<std::vector<TResultRecord>>& results_;
    const QByteArray& publisherHash_;
    std::vector<std::int64_t>& ids_; // reserved for new computers, ascending
    TUploadOutcome& outcome_;
    std::vector<QByteArray> hashes_;
    std::vector<std::size_t> order_; // of the file's computers by their hashes
    std::vector<TChangedComputer> changed_;
};

std::map<QByteArray, TKnownComputer> TUploadMerge::LockKnown() {
    TSqlArray hashes;
    for (const std::size_t i : order_)
        hashes.AddBytes(hashes_[i]);
    std::map<QByteArray, TKnownComputer> known;
    for (const pqxx::row& row : work_.exec_prepared("computers_lock", hashes.Text())) {
        TKnownComputer& computer = known[BytesOf(row[1])];
        computer.Id = row[0].as<std::int64_t>();
        computer.Record = BytesOf(row[2]);
        if (!row[3].is_null())
            computer.Publisher = BytesOf(row[3]);
    }
    return known;
}

std::map<std::int64_t, std::vector<TResultRecord>>
TUploadMerge::StoredResults(const std::map<QByteArray, TKnownComputer>& known) {
    std::map<std::int64_t, std::vector<TResultRecord>> stored;
    if (known.empty())
        return stored;
    TSqlArray ids;
    for (const auto& [hash, computer] : known)
        ids.AddInteger(computer.Id);
    for (const pqxx::row& row : work_.exec_prepared("computers_results", ids.Text()))
        stored[row[0].as<std::int64_t>()].push_back(RecordFrom<TResultRecord>(row[1]));
    return stored;
}

// The new computers take their ids in the order of the file, as the ranking's ties and the pages
// show them; they are inserted in the order of their hashes (added is in that order).
void TUploadMerge::InsertNew(const std::vector<std::size_t>& added,
                             std::vector<std::int64_t>& ids) {
    if (ids_.size() < added.size())
        for (const pqxx::row& row : work_.exec_prepared(
                 "computer_ids", static_cast<std::int64_t>(added.size() - ids_.size())))
            ids_.push_back(row[0].as<std::int64_t>());
    std::vector<std::size_t> fileOrder = added;
    std::sort(fileOrder.begin(), fileOrder.end());
    for (std::size_t k = 0; k < fileOrder.size(); ++k)
        ids[fileOrder[k]] = ids_[k];

    for (std::size_t first = 0; first < added.size(); first += ComputersPerInsert)
        InsertBatch(
            std::span(added).subspan(first, std::min(ComputersPerInsert, added.size() - first)),
            ids);
}

void TUploadMerge::InsertBatch(std::span<const std::size_t> batch,
                               const std::vector<std::int64_t>& ids) {
    TSqlArray idList, devicesFrom, devicesLength;
    std::array<TSqlArray, TextColumns> texts;
    std::string hashBytes, recordBytes, deviceBytes;
    recordBytes.reserve(batch.size() * ComputerSize);
    for (const std::size_t i : batch) {
        const TComputerRecord& computer = computers_[i];
        idList.AddInteger(ids[i]);
        hashBytes.append(hashes_[i].constData(), HashSize);
        recordBytes.append(reinterpret_cast<const char*>(&computer), ComputerSize);
        devicesFrom.AddInteger(static_cast<std::int64_t>(deviceBytes.size()));
        for (const TStringSlot& line : devices_[i])
            deviceBytes.append(reinterpret_cast<const char*>(line.data()), SlotSize);
        devicesLength.AddInteger(static_cast<std::int64_t>(devices_[i].size() * SlotSize));
        const std::array<const TStringSlot*, TextColumns> textSlots = {
            &computer.Processor, &computer.VideoAdapter, &computer.Chipset,  &computer.MemoryMB,
            &computer.OSName,    &computer.Owner,        &computer.TimeZone, &computer.RecordTag};
        for (std::size_t column = 0; column < TextColumns; ++column)
            texts[column].AddText(StoredText(*textSlots[column]));
    }
    static_assert(TextColumns == 8);
    const pqxx::result inserted = work_.exec_prepared(
        "computers_insert", idList.Text(), Bytes(hashBytes.data(), hashBytes.size()),
        Bytes(recordBytes.data(), recordBytes.size()),
        Bytes(deviceBytes.data(), deviceBytes.size()), devicesFrom.Text(), devicesLength.Text(),
        Bytes(publisherHash_), texts[0].Text(), texts[1].Text(), texts[2].Text(), texts[3].Text(),
        texts[4].Text(), texts[5].Text(), texts[6].Text(), texts[7].Text());
    if (static_cast<std::size_t>(inserted.affected_rows()) != batch.size())
        throw TUploadCollision("another upload stored a computer of this one meanwhile");
}

void TUploadMerge::Run() {
    hashes_.reserve(computers_.size());
    for (const TComputerRecord& computer : computers_)
        hashes_.push_back(Sha256(&computer, ComputerSize));
    order_.resize(computers_.size());
    std::iota(order_.begin(), order_.end(), std::size_t{0});
    std::sort(order_.begin(), order_.end(),
              [this](std::size_t a, std::size_t b) { return hashes_[a] < hashes_[b]; });

    // Without it, two uploads of the same new computers would each reserve ids from the
    // sequence, and the one that stored them would leave the numbers of the other unused: the
    // ids would not follow the order of the files stored. The ranking's counts, which every
    // upload changes, would make them wait for each other anyway.
    work_.exec_prepared("uploads_one_at_a_time");
    const std::map<QByteArray, TKnownComputer> known = LockKnown();
    std::map<std::int64_t, std::vector<TResultRecord>> stored = StoredResults(known);
    std::vector<std::size_t> added; // in the order of their hashes
    std::vector<std::int64_t> claimed;
    for (const std::size_t i : order_) {
        TChangedComputer change;
        change.Index = i;
        const auto found = known.find(hashes_[i]);
        if (found != known.end()) {
            if (found->second.Record != RecordBytes(i))
                throw TDatabaseError("two different computers have the same SHA-256");
            change.Known = true;
            change.Id = found->second.Id;
            change.Results = std::move(stored[change.Id]);
            ++outcome_.ComputersKnown;
        } else {
            added.push_back(i);
            ++outcome_.ComputersAdded;
        }
        change.Merge = MergeResults(change.Results, results_[i]);
        outcome_.ResultsNotLater += change.Merge.NotLater;
        if (!change.Merge.Changes())
            continue; // nothing of the computer changes
        if (change.Known) {
            const std::optional<QByteArray>& publisher = found->second.Publisher;
            if (publisher && *publisher != publisherHash_) {
                outcome_.NotYours.push_back(
                    {static_cast<std::int32_t>(i + 1), StoredText(computers_[i].Processor)});
                continue;
            }
            if (!publisher && !publisherHash_.isEmpty())
                claimed.push_back(change.Id);
        }
        outcome_.ResultsAdded += change.Merge.Added;
        outcome_.ResultsReplaced += change.Merge.ReplacedCount;
        changed_.push_back(std::move(change));
    }

    if (!added.empty()) {
        std::vector<std::int64_t> ids(computers_.size(), 0);
        InsertNew(added, ids);
        for (TChangedComputer& change : changed_)
            if (!change.Known)
                change.Id = ids[change.Index];
    }
    if (!claimed.empty()) {
        TSqlArray ids;
        for (const std::int64_t id : claimed)
            ids.AddInteger(id);
        work_.exec_prepared("computers_claim", ids.Text(), Bytes(publisherHash_));
    }
    StoreResults();
    PutEntries();
    std::sort(outcome_.NotYours.begin(), outcome_.NotYours.end(),
              [](const auto& a, const auto& b) { return a.Computer < b.Computer; });
}

void TUploadMerge::StoreResults() {
    TSqlArray replacedIds, replacedPositions, addedIds, addedPositions;
    std::string replaced, appended;
    for (const TChangedComputer& change : changed_) {
        for (const std::size_t position : change.Merge.Replaced) {
            replacedIds.AddInteger(change.Id);
            replacedPositions.AddInteger(static_cast<std::int64_t>(position));
            replaced.append(reinterpret_cast<const char*>(&change.Results[position]), ResultSize);
        }
        for (std::size_t position = change.Merge.FirstAdded; position < change.Results.size();
             ++position) {
            addedIds.AddInteger(change.Id);
            addedPositions.AddInteger(static_cast<std::int64_t>(position));
            appended.append(reinterpret_cast<const char*>(&change.Results[position]), ResultSize);
        }
    }
    if (!replacedIds.Empty())
        work_.exec_prepared("results_replace", replacedIds.Text(), replacedPositions.Text(),
                            Bytes(replaced.data(), replaced.size()));
    if (!addedIds.Empty())
        work_.exec_prepared("results_insert", addedIds.Text(), addedPositions.Text(),
                            Bytes(appended.data(), appended.size()));
}

// The changed computers' entries of the ranking, chosen by the window's own rule; each one
// ranked, or held for review when the outlier rule says so, unless a decision was made on that
// very result before. The peers of an entry are the ranked entries of its adapter and kind on
// other computers as they were before this upload.
void TUploadMerge::PutEntries() {
    if (changed_.empty())
        return;
    std::map<std::string, TPeers> peers;
    TSqlArray knownIds;
    for (const TChangedComputer& change : changed_) {
        peers.try_emplace(StoredText(computers_[change.Index].VideoAdapter));
        if (change.Known)
            knownIds.AddInteger(change.Id);
    }
    TSqlArray adapters;
    for (const auto& [adapter, entries] : peers)
        adapters.AddText(adapter);
    for (const pqxx::row& row : work_.exec_prepared("adapters_peers", adapters.Text(),
                                                    static_cast<std::int32_t>(OutlierPeerSample)))
        peers[row[0].as<std::string>()][row[1].as<std::size_t>()].push_back(
            {row[2].as<std::int64_t>(), row[3].as<double>()});

    std::map<std::int64_t, std::array<std::optional<TStoredReview>, ChartKindCount>> reviews;
    if (!knownIds.Empty()) {
        for (const pqxx::row& row : work_.exec_prepared("computers_reviews", knownIds.Text()))
            reviews[row[0].as<std::int64_t>()][row[1].as<std::size_t>()] =
                TStoredReview{row[2].as<std::int32_t>(), row[3].as<double>(),
                              row[4].is_null() ? std::string() : row[4].as<std::string>()};
        work_.exec_prepared("ranking_clear", knownIds.Text());
    }

    // Columns of the statements ranking_insert, reviews_hold and reviews_clear.
    TSqlArray rankedIds, rankedKinds, rankedPositions, rankedValues, rankedAdapters;
    TSqlArray heldIds, heldKinds, heldPositions, heldValues, heldAdapters, heldMedians, heldPeers;
    TSqlArray clearedIds, clearedKinds;
    const auto clear = [&](std::int64_t id, std::size_t kind) {
        clearedIds.AddInteger(id);
        clearedKinds.AddInteger(static_cast<std::int64_t>(kind));
    };
    for (const TChangedComputer& change : changed_) {
        const TComputerRecord& computer = computers_[change.Index];
        const std::string adapter = StoredText(computer.VideoAdapter);
        const auto rep = RepresentativeResults(change.Results);
        const auto& stored = reviews[change.Id];
        for (std::size_t a = 0; a < ChartKindCount; ++a) {
            const std::int32_t r = rep[a];
            const std::optional<TStoredReview>& review = stored[a];
            if (r < 0) {
                if (review)
                    clear(change.Id, a);
                continue;
            }
            const double value = change.Results[static_cast<std::size_t>(r)].TrianglesPerMs;
            bool rank = true;
            if (review && review->Position == r && review->Value == value) {
                rank = review->Decision == "accepted"; // else still rejected or still waiting
            } else {
                std::vector<double> peerValues;
                for (const TPeer& peer : peers[adapter][a])
                    if (peer.ComputerId != change.Id)
                        peerValues.push_back(peer.Value);
                const TOutlierJudgement judgement = JudgeOutlier(value, std::move(peerValues));
                if (judgement.Held) {
                    heldIds.AddInteger(change.Id);
                    heldKinds.AddInteger(static_cast<std::int64_t>(a));
                    heldPositions.AddInteger(r);
                    heldValues.AddReal(value);
                    heldAdapters.AddText(adapter);
                    heldMedians.AddReal(judgement.Median);
                    heldPeers.AddInteger(judgement.Peers);
                    outcome_.Held.push_back({change.Id,
                                             static_cast<std::int32_t>(a),
                                             value,
                                             judgement.Median,
                                             judgement.Peers,
                                             adapter,
                                             StoredText(computer.Processor),
                                             {}});
                    rank = false;
                } else if (review) {
                    clear(change.Id, a);
                }
            }
            if (rank) {
                rankedIds.AddInteger(change.Id);
                rankedKinds.AddInteger(static_cast<std::int64_t>(a));
                rankedPositions.AddInteger(r);
                rankedValues.AddReal(value);
                rankedAdapters.AddText(adapter);
            }
        }
    }
    if (!heldIds.Empty())
        work_.exec_prepared("reviews_hold", heldIds.Text(), heldKinds.Text(), heldPositions.Text(),
                            heldValues.Text(), heldAdapters.Text(), heldMedians.Text(),
                            heldPeers.Text());
    if (!clearedIds.Empty())
        work_.exec_prepared("reviews_clear", clearedIds.Text(), clearedKinds.Text());
    if (!rankedIds.Empty())
        work_.exec_prepared("ranking_insert", rankedIds.Text(), rankedKinds.Text(),
                            rankedPositions.Text(), rankedValues.Text(), rankedAdapters.Text());
}

} // namespace

std::span<const TStatement> UploadStatements() {
    return Statements;
}

std::string StoredText(const TStringSlot& slot) {
    return ReadableText(slot).toStdString();
}

void MergeUploadedComputers(pqxx::work& work, const std::vector<TComputerRecord>& computers,
                            const std::vector<std::vector<TStringSlot>>& devices,
                            const std::vector<std::vector<TResultRecord>>& results,
                            const QByteArray& publisherHash, std::vector<std::int64_t>& ids,
                            TUploadOutcome& outcome) {
    TUploadMerge(work, computers, devices, results, publisherHash, ids, outcome).Run();
}
