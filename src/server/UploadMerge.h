// The transaction of one upload, in the database's terms, in a handful of statements whatever
// the number of computers: each statement takes every computer of the file at once (arrays of
// values, and the records' bytes end to end in one binary parameter), new computers a thousand
// at a time. Uploads take their turn
// first (one at a time to their commit, so that new computers are numbered in the order of the
// uploads that store them); then the stored computers of the file are locked in the order of
// their record hashes and the new ones inserted in that order; the ranking's counts, which
// every upload and review changes, are taken last. Each computer's results are merged by the rule
// of the file merge; a computer first published with a publisher key changes only by uploads with
// that key; a changed computer's representative entries go into the ranking, or wait for review
// when the outlier rule holds them.
#pragma once

#include "server/ConnectionPool.h"
#include "server/ResultsDatabase.h"

#include <QByteArray>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// The statements the merge runs, prepared on the primary's connections.
std::span<const TStatement> UploadStatements();

// A new computer of this upload was stored meanwhile by a writer that did not wait for its turn:
// nothing of this transaction may stay, and it runs again (finding that computer stored).
class TUploadCollision : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Merges what the reader took of a file (parallel arrays, in the file's order) into the
// database within work, counting into outcome. publisherHash: the SHA-256 of the sender's
// publisher key, empty when the upload has none. New computers take their ids from ids, which
// grows as needed: a sequence hands out each number once, so a transaction that runs again
// reuses the numbers it was given before (in ascending order) instead of leaving them unused.
// Throws TUploadCollision.
void MergeUploadedComputers(pqxx::work& work, const std::vector<TComputerRecord>& computers,
                            const std::vector<std::vector<TStringSlot>>& devices,
                            const std::vector<std::vector<TResultRecord>>& results,
                            const QByteArray& publisherHash, std::vector<std::int64_t>& ids,
                            TUploadOutcome& outcome);

// The text a text column holds of a stored text: what the export shows.
std::string StoredText(const TStringSlot& slot);
