-- Migration 12, PostgreSQL edition (keep in step with sqlite-012-record-chain.sql).
--
-- The record chain (docs/security.md): every history entry, use, use conflict, import, count,
-- certification and settlement is recorded by one link, in the order the writes committed.
-- A link holds the hash of its record's content and the hash of the link before it, so a
-- record changed, removed or inserted with plain SQL no longer matches its link, and a link
-- changed, removed or inserted no longer follows the one before it. The server computes
-- the hashes (SHA-256, hexadecimal); the migration's second step links the records written
-- before this one, in the order of their ids.
CREATE TABLE record_chain (
  seq          BIGINT PRIMARY KEY CHECK (seq >= 1),
  kind         TEXT NOT NULL,
  record_id    BIGINT NOT NULL,
  content_hash TEXT NOT NULL,
  link_hash    TEXT NOT NULL
);
CREATE UNIQUE INDEX record_chain_record ON record_chain (kind, record_id);

-- The last link: every write reads and moves it, so writes link one after the other.
CREATE TABLE record_chain_head (
  head_id   INTEGER PRIMARY KEY CHECK (head_id = 1),
  seq       BIGINT NOT NULL,
  link_hash TEXT NOT NULL
);
INSERT INTO record_chain_head (head_id, seq, link_hash)
  VALUES (1, 0, '0000000000000000000000000000000000000000000000000000000000000000');

-- A settlement is linked by a number of its own, as every other linked record is.
ALTER TABLE physical_count_settlement ADD COLUMN settlement_id BIGINT;
UPDATE physical_count_settlement s SET settlement_id = n.id
  FROM (SELECT count_nbr, form_typ_cd, frm_nbr,
               row_number() OVER (ORDER BY settled_at, count_nbr, form_typ_cd, frm_nbr) AS id
          FROM physical_count_settlement) n
 WHERE n.count_nbr = s.count_nbr AND n.form_typ_cd = s.form_typ_cd AND n.frm_nbr = s.frm_nbr;
CREATE UNIQUE INDEX physical_count_settlement_id ON physical_count_settlement (settlement_id);
