-- Migration 12, SQLite edition (keep in step with postgresql-012-record-chain.sql).
--
-- The record chain (docs/security.md): every history entry, use, use conflict, import, count,
-- certification and settlement is recorded by one link, in the order the writes committed.
-- A link holds the hash of its record's content and the hash of the link before it, so a
-- record changed, removed or inserted with plain SQL no longer matches its link, and a link
-- changed, removed or inserted no longer follows the one before it. The server computes
-- the hashes (SHA-256, hexadecimal); the migration's second step links the records written
-- before this one, in the order of their ids.
CREATE TABLE record_chain (
  seq          INTEGER PRIMARY KEY CHECK (seq >= 1),
  kind         TEXT NOT NULL,
  record_id    INTEGER NOT NULL,
  content_hash TEXT NOT NULL,
  link_hash    TEXT NOT NULL
);
CREATE UNIQUE INDEX record_chain_record ON record_chain (kind, record_id);

-- The last link: every write reads and moves it, so writes link one after the other.
CREATE TABLE record_chain_head (
  head_id   INTEGER PRIMARY KEY CHECK (head_id = 1),
  seq       INTEGER NOT NULL,
  link_hash TEXT NOT NULL
);
INSERT INTO record_chain_head (head_id, seq, link_hash)
  VALUES (1, 0, '0000000000000000000000000000000000000000000000000000000000000000');

-- A settlement is linked by a number of its own, as every other linked record is.
ALTER TABLE physical_count_settlement ADD COLUMN settlement_id INTEGER;
UPDATE physical_count_settlement SET settlement_id = rowid;
CREATE UNIQUE INDEX physical_count_settlement_id ON physical_count_settlement (settlement_id);
