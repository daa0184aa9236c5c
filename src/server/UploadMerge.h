// The transaction of one upload, in the database's terms. The computers of the file are taken
// in the order of their record hashes, so that two uploads at once lock the rows they share in
// the same order and never wait for each other in a circle. Each one's results are merged by
// the rule of the file merge; a computer first published with a publisher key changes only by
// uploads with that key; a changed computer's representative entries go into the ranking, or
// wait for review when the outlier rule holds them.
#pragma once

#include "chart/ChartModel.h"
#include "server/ConnectionPool.h"
#include "server/ResultsDatabase.h"

#include <QByteArray>
#include <array>
#include <span>
#include <string>
#include <vector>

// The statements the merge runs, prepared on every connection.
std::span<const TStatement> UploadStatements();

// Merges what the reader took of a file (parallel arrays, in the file's order) into the
// database within work, counting into outcome. publisherHash: the SHA-256 of the sender's
// publisher key, empty when the upload has none.
void MergeUploadedComputers(pqxx::work& work, const std::vector<TComputerRecord>& computers,
                            const std::vector<std::vector<TStringSlot>>& devices,
                            const std::vector<std::vector<TResultRecord>>& results,
                            const QByteArray& publisherHash, TUploadOutcome& outcome);

// The text a text column holds of a stored text: what the export shows.
std::string StoredText(const TStringSlot& slot);

// Adds to the ranking's count of entries of each kind (negative: removes).
void AddRankingEntries(pqxx::work& work, const std::array<std::int64_t, ChartKindCount>& change);
