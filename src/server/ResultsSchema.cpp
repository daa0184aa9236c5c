#include "server/ResultsSchema.h"

#include "server/ResultsDatabase.h"

#include <pqxx/pqxx>
#include <string>

namespace {

// Each entry upgrades the schema by one version; entries are only ever appended, never
// changed, so that every database passes through the same steps.
const char* const Migrations[] = {
    // 1: computers, their results, the ranking's representative entries and the uploads.
    R"sql(
CREATE TABLE computers (
    id bigserial PRIMARY KEY,
    -- SHA-256 of the 2472 record bytes: the identity of a computer is all bytes equal, and the
    -- bytes themselves are compared whenever a hash matches.
    record_hash bytea NOT NULL UNIQUE,
    record bytea NOT NULL CHECK (length(record) = 2472),
    devices bytea NOT NULL CHECK (length(devices) % 256 = 0),
    processor text NOT NULL,
    video_adapter text NOT NULL,
    chipset text NOT NULL,
    memory_mb text NOT NULL,
    os_name text NOT NULL,
    owner text NOT NULL,
    time_zone text NOT NULL,
    record_tag text NOT NULL
);
CREATE TABLE results (
    computer_id bigint NOT NULL REFERENCES computers (id),
    position integer NOT NULL,
    record bytea NOT NULL CHECK (length(record) = 112),
    -- The test configuration: offset 8 and offsets 10..22 less the refresh rate at 16..17.
    result_key bytea GENERATED ALWAYS AS (substring(record FROM 9 FOR 1) ||
                                          substring(record FROM 11 FOR 6) ||
                                          substring(record FROM 19 FOR 5)) STORED,
    PRIMARY KEY (computer_id, position),
    UNIQUE (computer_id, result_key)
);
CREATE TABLE ranking (
    computer_id bigint NOT NULL REFERENCES computers (id),
    kind smallint NOT NULL CHECK (kind BETWEEN 0 AND 2),
    result_position integer NOT NULL,
    value double precision NOT NULL,
    -- NaN ranks last; PostgreSQL orders it above every number, so it ranks as null.
    rank_value double precision GENERATED ALWAYS AS (NULLIF(value, 'NaN')) STORED,
    PRIMARY KEY (computer_id, kind),
    FOREIGN KEY (computer_id, result_position) REFERENCES results (computer_id, position)
);
CREATE INDEX ranking_order ON ranking (rank_value DESC NULLS LAST, computer_id, kind)
    INCLUDE (result_position);
CREATE INDEX ranking_kind_order ON ranking (kind, rank_value DESC NULLS LAST, computer_id)
    INCLUDE (result_position);
CREATE TABLE ranking_counts (
    kind smallint PRIMARY KEY,
    entries bigint NOT NULL
);
INSERT INTO ranking_counts VALUES (0, 0), (1, 0), (2, 0);
CREATE TABLE uploads (
    id bigserial PRIMARY KEY,
    received_at timestamptz NOT NULL DEFAULT now(),
    address text NOT NULL,
    size bigint NOT NULL,
    sha256 bytea NOT NULL,
    outcome text NOT NULL,
    blocks_declared integer NOT NULL,
    blocks_merged integer NOT NULL,
    computers_added integer NOT NULL,
    computers_known integer NOT NULL,
    results_added integer NOT NULL,
    results_replaced integer NOT NULL,
    results_not_later integer NOT NULL,
    left_out text NOT NULL
);
)sql",
    // 2: who published each computer, the entries held for review, and the adapter of each
    // ranking entry, which the review compares entries by.
    R"sql(
-- SHA-256 of the publisher key of whoever first published the computer with one; null while
-- only uploads without a key have brought it.
ALTER TABLE computers ADD COLUMN publisher_hash bytea CHECK (length(publisher_hash) = 32);
ALTER TABLE uploads ADD COLUMN publisher_hash bytea;
ALTER TABLE uploads ADD COLUMN computers_not_yours integer NOT NULL DEFAULT 0;
ALTER TABLE uploads ADD COLUMN entries_held integer NOT NULL DEFAULT 0;
ALTER TABLE ranking ADD COLUMN adapter text;
UPDATE ranking r SET adapter = c.video_adapter FROM computers c WHERE c.id = r.computer_id;
ALTER TABLE ranking ALTER COLUMN adapter SET NOT NULL;
CREATE INDEX ranking_adapter ON ranking (adapter, kind, computer_id DESC) INCLUDE (value);
-- An entry far above what its adapter scores elsewhere waits here, out of the ranking, for an
-- administrator's decision; a decision stays with the result it was made on.
CREATE TABLE reviews (
    computer_id bigint NOT NULL REFERENCES computers (id),
    kind smallint NOT NULL CHECK (kind BETWEEN 0 AND 2),
    result_position integer NOT NULL,
    value double precision NOT NULL,
    adapter text NOT NULL,
    peer_median double precision,
    peers integer NOT NULL,
    held_at timestamptz NOT NULL DEFAULT now(),
    decision text CHECK (decision IN ('accepted', 'rejected')),
    decided_at timestamptz,
    PRIMARY KEY (computer_id, kind),
    FOREIGN KEY (computer_id, result_position) REFERENCES results (computer_id, position)
);
CREATE INDEX reviews_waiting ON reviews (held_at) WHERE decision IS NULL;
)sql",
};

constexpr int MigrationCount = static_cast<int>(std::size(Migrations));

} // namespace

int ResultsSchemaVersion() {
    return MigrationCount;
}

void MigrateResultsSchema(pqxx::connection& connection) {
    pqxx::work work(connection);
    work.exec("CREATE TABLE IF NOT EXISTS schema_version ("
              "version integer PRIMARY KEY, applied_at timestamptz NOT NULL DEFAULT now())");
    // Two servers starting on one database at once: the second waits, then finds it done.
    work.exec("LOCK TABLE schema_version IN EXCLUSIVE MODE");
    connection.prepare("schema_version_now",
                       "SELECT coalesce(max(version), 0) FROM schema_version");
    connection.prepare("schema_version_add", "INSERT INTO schema_version (version) VALUES ($1)");
    const int version = work.exec_prepared1("schema_version_now")[0].as<int>();
    if (version > MigrationCount)
        throw TDatabaseError("the database has schema version " + std::to_string(version) +
                             ", newer than this server's " + std::to_string(MigrationCount));
    for (int next = version + 1; next <= MigrationCount; ++next) {
        work.exec(Migrations[next - 1]);
        work.exec_prepared("schema_version_add", next);
    }
    work.commit();
}
