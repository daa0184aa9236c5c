#include "server/ResultsSchema.h"

#include "server/ResultsDatabase.h"

#include <algorithm>
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
    R"sql(
-- 3: a page of the ranking at any offset from an index. Each filter's ranking (0 all kinds,
-- 1 hardware, 2 software, 3 emulation) is cut into blocks of consecutive entries, each block
-- holding the key of its first entry and how many entries it has: a page adds up the blocks
-- before it and reads its entries from the index, from the first entry of its block on. The
-- blocks follow every change of the ranking, whoever makes it, through the triggers below.
--
-- The order of a ranking as one ascending key: the value negated, so that NaN (which
-- PostgreSQL orders above every number) ranks last; then the computer and the kind.
ALTER TABLE ranking ADD COLUMN rank_key double precision GENERATED ALWAYS AS (-value) STORED;
DROP INDEX ranking_order;
DROP INDEX ranking_kind_order;
CREATE INDEX ranking_key_order ON ranking (rank_key, computer_id, kind) INCLUDE (result_position);
CREATE INDEX ranking_kind_key_order ON ranking (kind, rank_key, computer_id)
    INCLUDE (result_position);
-- A block holds from a quarter of block_entries (the first block: from none) to twice as many.
CREATE TABLE ranking_paging (
    block_entries integer NOT NULL CHECK (block_entries >= 4)
);
INSERT INTO ranking_paging VALUES (1000);
CREATE TABLE ranking_blocks (
    filter smallint NOT NULL CHECK (filter BETWEEN 0 AND 3),
    first_key double precision NOT NULL,
    first_computer bigint NOT NULL,
    first_kind smallint NOT NULL,
    entries bigint NOT NULL CHECK (entries >= 0),
    PRIMARY KEY (filter, first_key, first_computer, first_kind)
);
CREATE TYPE ranking_change AS (rank_key double precision, computer_id bigint, kind smallint,
                               change integer);

-- The keys of the entries of filter f from the key (k, c, t) on, in ranking order; at most n
-- of them (all when n is null).
CREATE FUNCTION ranking_entries_from(f integer, k double precision, c bigint, t integer, n bigint)
RETURNS TABLE (rank_key double precision, computer_id bigint, kind smallint)
LANGUAGE plpgsql STABLE AS $$
#variable_conflict use_column
BEGIN
    IF f = 0 THEN
        RETURN QUERY SELECT r.rank_key, r.computer_id, r.kind FROM ranking r
            WHERE (r.rank_key, r.computer_id, r.kind) >= (k, c, t)
            ORDER BY r.rank_key, r.computer_id, r.kind LIMIT n;
    ELSE
        RETURN QUERY SELECT r.rank_key, r.computer_id, r.kind FROM ranking r
            WHERE r.kind = f - 1 AND (r.rank_key, r.computer_id) >= (k, c)
            ORDER BY r.rank_key, r.computer_id LIMIT n;
    END IF;
END $$;

-- The blocks of filter f made anew from its entries, each of block_entries to twice as many
-- (fewer when the filter has fewer); the first one starts below every key.
CREATE FUNCTION ranking_blocks_rebuild(f integer) RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
    size integer := (SELECT block_entries FROM ranking_paging);
    total bigint;
    pieces bigint;
BEGIN
    DELETE FROM ranking_blocks WHERE filter = f;
    total := (SELECT CASE WHEN f = 0 THEN sum(entries)
                          ELSE sum(entries) FILTER (WHERE kind = f - 1) END
              FROM ranking_counts);
    pieces := greatest(1, total / size);
    -- Piece i (from 0) begins at entry 1 + i * total / pieces.
    INSERT INTO ranking_blocks (filter, first_key, first_computer, first_kind, entries)
        SELECT f, e.rank_key, e.computer_id, e.kind,
               (i + 1) * total / pieces - i * total / pieces
        FROM generate_series(0, pieces - 1) AS i
        JOIN ranking_entries_from(f, '-Infinity', 0, 0, NULL) WITH ORDINALITY
             AS e(rank_key, computer_id, kind, n) ON e.n = 1 + i * total / pieces;
    UPDATE ranking_blocks SET first_key = '-Infinity', first_computer = 0, first_kind = 0
        WHERE filter = f AND (first_key, first_computer, first_kind) =
              (SELECT first_key, first_computer, first_kind FROM ranking_blocks WHERE filter = f
               ORDER BY first_key, first_computer, first_kind LIMIT 1);
    INSERT INTO ranking_blocks VALUES (f, '-Infinity', 0, 0, 0) ON CONFLICT DO NOTHING;
END $$;

-- Cuts the block of filter f that starts at (k, c, t) into pieces of about block_entries
-- entries when it holds more than twice as many.
CREATE FUNCTION ranking_block_split(f integer, k double precision, c bigint, t integer)
RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
    size integer := (SELECT block_entries FROM ranking_paging);
    held bigint;
    pieces bigint;
BEGIN
    SELECT entries INTO held FROM ranking_blocks
        WHERE filter = f AND first_key = k AND first_computer = c AND first_kind = t;
    IF held IS NULL OR held <= 2 * size THEN
        RETURN;
    END IF;
    pieces := held / size;
    -- Piece i (from 0) begins at entry 1 + i * held / pieces of the block.
    INSERT INTO ranking_blocks (filter, first_key, first_computer, first_kind, entries)
        SELECT f, e.rank_key, e.computer_id, e.kind,
               (i + 1) * held / pieces - i * held / pieces
        FROM generate_series(1, pieces - 1) AS i
        JOIN ranking_entries_from(f, k, c, t, held) WITH ORDINALITY
             AS e(rank_key, computer_id, kind, n) ON e.n = 1 + i * held / pieces;
    UPDATE ranking_blocks SET entries = held / pieces
        WHERE filter = f AND first_key = k AND first_computer = c AND first_kind = t;
END $$;

-- Adds the block of filter f that starts at (k, c, t) to the block before it when it holds
-- fewer than a quarter of block_entries entries (the first block stays).
CREATE FUNCTION ranking_block_merge(f integer, k double precision, c bigint, t integer)
RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
    size integer := (SELECT block_entries FROM ranking_paging);
    held bigint;
    before record;
BEGIN
    SELECT entries INTO held FROM ranking_blocks
        WHERE filter = f AND first_key = k AND first_computer = c AND first_kind = t;
    IF held IS NULL OR held >= size / 4 THEN
        RETURN;
    END IF;
    SELECT first_key, first_computer, first_kind INTO before FROM ranking_blocks
        WHERE filter = f AND (first_key, first_computer, first_kind) < (k, c, t)
        ORDER BY first_key DESC, first_computer DESC, first_kind DESC LIMIT 1;
    IF NOT FOUND THEN
        RETURN;
    END IF;
    DELETE FROM ranking_blocks
        WHERE filter = f AND first_key = k AND first_computer = c AND first_kind = t;
    UPDATE ranking_blocks SET entries = entries + held
        WHERE filter = f AND first_key = before.first_key
              AND first_computer = before.first_computer AND first_kind = before.first_kind;
    PERFORM ranking_block_split(f, before.first_key, before.first_computer, before.first_kind);
END $$;

-- Counts each change (an entry added, +1, or removed, -1) in the block of each filter that
-- holds its key, then cuts the blocks grown too large and merges those grown too small.
CREATE FUNCTION ranking_blocks_apply(changes ranking_change[]) RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
    size integer := (SELECT block_entries FROM ranking_paging);
    f integer;
    b record;
BEGIN
    FOR f IN 0..3 LOOP
        UPDATE ranking_blocks x SET entries = x.entries + d.change FROM (
            SELECT s.first_key, s.first_computer, s.first_kind, sum(e.change) AS change
            FROM unnest(changes) AS e
            CROSS JOIN LATERAL (
                SELECT first_key, first_computer, first_kind FROM ranking_blocks
                WHERE filter = f
                      AND (first_key, first_computer, first_kind) <= (e.rank_key, e.computer_id, e.kind)
                ORDER BY first_key DESC, first_computer DESC, first_kind DESC LIMIT 1) AS s
            WHERE f = 0 OR e.kind = f - 1
            GROUP BY s.first_key, s.first_computer, s.first_kind) AS d
        WHERE x.filter = f AND x.first_key = d.first_key AND x.first_computer = d.first_computer
              AND x.first_kind = d.first_kind;
        FOR b IN SELECT first_key, first_computer, first_kind, entries FROM ranking_blocks
                 WHERE filter = f AND (entries > 2 * size OR entries < size / 4)
                 ORDER BY first_key, first_computer, first_kind
        LOOP
            IF b.entries > 2 * size THEN
                PERFORM ranking_block_split(f, b.first_key, b.first_computer, b.first_kind);
            ELSE
                PERFORM ranking_block_merge(f, b.first_key, b.first_computer, b.first_kind);
            END IF;
        END LOOP;
    END LOOP;
END $$;

-- After each statement that changes the ranking: its counts and blocks.
CREATE FUNCTION ranking_changed() RETURNS trigger
LANGUAGE plpgsql AS $$
DECLARE
    changed bigint := 0;
    total bigint;
    changes ranking_change[];
    f integer;
BEGIN
    IF TG_OP IN ('INSERT', 'UPDATE') THEN
        changed := changed + (SELECT count(*) FROM added);
    END IF;
    IF TG_OP IN ('DELETE', 'UPDATE') THEN
        changed := changed + (SELECT count(*) FROM removed);
    END IF;
    IF changed = 0 THEN
        RETURN NULL;
    END IF;
    -- One writer of the counts and blocks at a time. An upload comes here after it has locked
    -- the rows of its computers, and locks none after.
    SELECT sum(entries) INTO total FROM (
        SELECT entries FROM ranking_counts ORDER BY kind FOR UPDATE) AS counts;
    IF changed > total / 4 THEN
        -- A good part of the ranking changed: its blocks are made anew, reading it once.
        UPDATE ranking_counts k SET entries = (SELECT count(*) FROM ranking r
                                               WHERE r.kind = k.kind);
        FOR f IN 0..3 LOOP
            PERFORM ranking_blocks_rebuild(f);
        END LOOP;
        RETURN NULL;
    END IF;
    IF TG_OP = 'INSERT' THEN
        changes := ARRAY(SELECT ROW(rank_key, computer_id, kind, 1)::ranking_change FROM added);
    ELSIF TG_OP = 'DELETE' THEN
        changes := ARRAY(SELECT ROW(rank_key, computer_id, kind, -1)::ranking_change FROM removed);
    ELSE
        changes := ARRAY(SELECT ROW(rank_key, computer_id, kind, 1)::ranking_change FROM added
                         UNION ALL
                         SELECT ROW(rank_key, computer_id, kind, -1)::ranking_change FROM removed);
    END IF;
    UPDATE ranking_counts k SET entries = k.entries + d.change
        FROM (SELECT kind, sum(change) AS change FROM unnest(changes) GROUP BY kind) AS d
        WHERE k.kind = d.kind;
    PERFORM ranking_blocks_apply(changes);
    RETURN NULL;
END $$;
CREATE TRIGGER ranking_added AFTER INSERT ON ranking REFERENCING NEW TABLE AS added
    FOR EACH STATEMENT EXECUTE FUNCTION ranking_changed();
CREATE TRIGGER ranking_removed AFTER DELETE ON ranking REFERENCING OLD TABLE AS removed
    FOR EACH STATEMENT EXECUTE FUNCTION ranking_changed();
CREATE TRIGGER ranking_updated AFTER UPDATE ON ranking
    REFERENCING OLD TABLE AS removed NEW TABLE AS added
    FOR EACH STATEMENT EXECUTE FUNCTION ranking_changed();

CREATE FUNCTION ranking_truncated() RETURNS trigger
LANGUAGE plpgsql AS $$
DECLARE
    f integer;
BEGIN
    PERFORM 1 FROM ranking_counts ORDER BY kind FOR UPDATE;
    UPDATE ranking_counts SET entries = 0;
    FOR f IN 0..3 LOOP
        PERFORM ranking_blocks_rebuild(f);
    END LOOP;
    RETURN NULL;
END $$;
CREATE TRIGGER ranking_truncated AFTER TRUNCATE ON ranking
    FOR EACH STATEMENT EXECUTE FUNCTION ranking_truncated();

SELECT ranking_blocks_rebuild(f) FROM generate_series(0, 3) AS f;
)sql",
    R"sql(
-- 4: each block also holds how many entries of its filter come before it, so that a page
-- finds its block from an index instead of adding up every block before it. Whatever changes
-- the counts of the blocks (cutting them anew, or counting changes into them) numbers them
-- again afterwards, writing only the blocks whose number changed.
ALTER TABLE ranking_blocks ADD COLUMN before bigint NOT NULL DEFAULT 0 CHECK (before >= 0);
CREATE INDEX ranking_blocks_before ON ranking_blocks (filter, before, first_key, first_computer,
                                                      first_kind);

CREATE FUNCTION ranking_blocks_number(f integer) RETURNS void
LANGUAGE sql AS $$
    UPDATE ranking_blocks x SET before = n.before FROM (
        SELECT first_key, first_computer, first_kind,
               sum(entries) OVER (ORDER BY first_key, first_computer, first_kind) - entries
                   AS before
        FROM ranking_blocks WHERE filter = f) AS n
    WHERE x.filter = f AND x.first_key = n.first_key AND x.first_computer = n.first_computer
          AND x.first_kind = n.first_kind AND x.before <> n.before;
$$;

ALTER FUNCTION ranking_blocks_rebuild(integer) RENAME TO ranking_blocks_cut;
CREATE FUNCTION ranking_blocks_rebuild(f integer) RETURNS void
LANGUAGE plpgsql AS $$
BEGIN
    PERFORM ranking_blocks_cut(f);
    PERFORM ranking_blocks_number(f);
END $$;

ALTER FUNCTION ranking_blocks_apply(ranking_change[]) RENAME TO ranking_blocks_count;
CREATE FUNCTION ranking_blocks_apply(changes ranking_change[]) RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
    f integer;
BEGIN
    PERFORM ranking_blocks_count(changes);
    FOR f IN 0..3 LOOP
        PERFORM ranking_blocks_number(f);
    END LOOP;
END $$;

SELECT ranking_blocks_number(f) FROM generate_series(0, 3) AS f;

-- The records of a ranking entry's computer and result, each read by its key (the planner
-- keeps it apart from the page's other tables, whatever number of rows it expects).
CREATE FUNCTION ranking_entry_records(computer_id bigint, result_position integer)
RETURNS TABLE (computer bytea, result bytea)
LANGUAGE sql STABLE AS $$
    SELECT c.record, s.record FROM computers c JOIN results s ON s.computer_id = c.id
    WHERE c.id = ranking_entry_records.computer_id
          AND s.position = ranking_entry_records.result_position
    OFFSET 0
$$;

-- A page of filter f: the filter's count and greatest finite value on every row, and its
-- entries from offset skip on, at most n, each with the records of its computer and result,
-- in ranking order; a single row without an entry when the page is past the end. A page
-- starts at its block, found from the index, and skips at most a block's entries. Its plan is
-- made once per connection, for every page: each computer and result is read by its key
-- whatever the page's size, so the planner has nothing to weigh per page. Such a plan
-- expects many rows: neither a cache of lookups sized for them nor compiling it would pay.
CREATE FUNCTION ranking_page(f integer, skip bigint, n bigint)
RETURNS TABLE (page_total bigint, page_max double precision, entry_computer bigint,
               entry_kind smallint, computer_record bytea, result_record bytea)
LANGUAGE plpgsql STABLE
SET plan_cache_mode = force_generic_plan SET enable_memoize = off SET jit = off AS $$
BEGIN
    IF f = 0 THEN
        RETURN QUERY
        WITH start AS (
            SELECT b.first_key, b.first_computer, b.first_kind, b.before FROM ranking_blocks b
            WHERE b.filter = 0 AND b.before <= skip
            ORDER BY b.before DESC, b.first_key DESC, b.first_computer DESC, b.first_kind DESC
            LIMIT 1),
        page AS (
            SELECT e.* FROM start CROSS JOIN LATERAL (
                SELECT r.computer_id, r.kind, r.result_position, r.rank_key FROM ranking r
                WHERE (r.rank_key, r.computer_id, r.kind) >=
                      (start.first_key, start.first_computer, start.first_kind)
                ORDER BY r.rank_key, r.computer_id, r.kind
                OFFSET skip - start.before LIMIT n) AS e),
        meta AS (
            SELECT (SELECT coalesce(sum(k.entries), 0)::bigint FROM ranking_counts k) AS total,
                   (SELECT -r.rank_key FROM ranking r
                    WHERE r.rank_key > '-Infinity' AND r.rank_key < 'Infinity'
                    ORDER BY r.rank_key, r.computer_id, r.kind LIMIT 1) AS max)
        SELECT m.total, m.max, p.computer_id, p.kind, records.computer, records.result FROM meta m
        LEFT JOIN (page p CROSS JOIN LATERAL
                   ranking_entry_records(p.computer_id, p.result_position) AS records) ON true
        ORDER BY p.rank_key, p.computer_id, p.kind;
    ELSE
        RETURN QUERY
        WITH start AS (
            SELECT b.first_key, b.first_computer, b.before FROM ranking_blocks b
            WHERE b.filter = f AND b.before <= skip
            ORDER BY b.before DESC, b.first_key DESC, b.first_computer DESC, b.first_kind DESC
            LIMIT 1),
        page AS (
            SELECT e.* FROM start CROSS JOIN LATERAL (
                SELECT r.computer_id, r.kind, r.result_position, r.rank_key FROM ranking r
                WHERE r.kind = f - 1
                      AND (r.rank_key, r.computer_id) >= (start.first_key, start.first_computer)
                ORDER BY r.rank_key, r.computer_id
                OFFSET skip - start.before LIMIT n) AS e),
        meta AS (
            SELECT (SELECT k.entries FROM ranking_counts k WHERE k.kind = f - 1) AS total,
                   (SELECT -r.rank_key FROM ranking r
                    WHERE r.kind = f - 1 AND r.rank_key > '-Infinity' AND r.rank_key < 'Infinity'
                    ORDER BY r.rank_key, r.computer_id LIMIT 1) AS max)
        SELECT m.total, m.max, p.computer_id, p.kind, records.computer, records.result FROM meta m
        LEFT JOIN (page p CROSS JOIN LATERAL
                   ranking_entry_records(p.computer_id, p.result_position) AS records) ON true
        ORDER BY p.rank_key, p.computer_id;
    END IF;
END $$;
)sql",
    R"sql(
-- 5: an entry's result belongs to a stored computer already (the key to the results), so the
-- key of the ranking to the computers only checked each entry of an upload a second time.
ALTER TABLE ranking DROP CONSTRAINT ranking_computer_id_fkey;
)sql",
};

constexpr int MigrationCount = static_cast<int>(std::size(Migrations));

} // namespace

int ResultsSchemaVersion() {
    return MigrationCount;
}

void MigrateResultsSchema(pqxx::connection& connection, int upTo) {
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
    for (int next = version + 1; next <= std::min(upTo, MigrationCount); ++next) {
        work.exec(Migrations[next - 1]);
        work.exec_prepared("schema_version_add", next);
    }
    work.commit();
}
