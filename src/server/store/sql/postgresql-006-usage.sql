-- Migration 6, PostgreSQL edition (keep in step with sqlite-006-usage.sql).
--
-- What became of each form number: one record per reported use (docs/usage.md). A
-- correction is a new record superseding the standing one; both are kept, and at most one
-- use of a number stands, which the partial unique index makes the database's rule.

-- The files imported, by the SHA-256 of their bytes: the same file again changes nothing.
CREATE TABLE form_use_import (
  import_id        BIGSERIAL PRIMARY KEY,
  file_name        TEXT COLLATE "C" NOT NULL,
  file_hash        TEXT COLLATE "C" NOT NULL UNIQUE,
  source_text      TEXT COLLATE "C" NOT NULL,
  lines            BIGINT NOT NULL,
  recorded         BIGINT NOT NULL,
  already          BIGINT NOT NULL,
  conflicts        BIGINT NOT NULL,
  recorded_by_id   BIGINT NOT NULL,
  recorded_by_name TEXT COLLATE "C" NOT NULL,
  recorded_at      TEXT COLLATE "C" NOT NULL,
  request_id       TEXT COLLATE "C" NOT NULL
);

CREATE TABLE form_use (
  use_id            BIGSERIAL PRIMARY KEY,
  form_typ_cd       TEXT COLLATE "C" NOT NULL,
  form_nbr          BIGINT NOT NULL,
  disposition       TEXT COLLATE "C" NOT NULL CHECK (disposition IN ('ISSUED', 'SPOILED', 'LOST', 'STOLEN')),
  used_on           TEXT COLLATE "C" NOT NULL
                    CHECK (used_on ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}$'),
  reg_nbr           BIGINT NOT NULL,
  reference         TEXT COLLATE "C" NOT NULL,
  note              TEXT COLLATE "C" NOT NULL,
  source_text       TEXT COLLATE "C" NOT NULL,
  import_id         BIGINT REFERENCES form_use_import (import_id),
  line_nbr          BIGINT NOT NULL,
  recorded_by_id    BIGINT NOT NULL,
  recorded_by_name  TEXT COLLATE "C" NOT NULL,
  recorded_at       TEXT COLLATE "C" NOT NULL,
  request_id        TEXT COLLATE "C" NOT NULL,
  supersedes_id     BIGINT REFERENCES form_use (use_id),
  correction_reason TEXT COLLATE "C",
  standing          SMALLINT NOT NULL CHECK (standing IN (0, 1)),
  CHECK ((supersedes_id IS NULL) = (correction_reason IS NULL))
);
CREATE UNIQUE INDEX form_use_standing ON form_use (form_typ_cd, form_nbr) WHERE standing = 1;
-- Every use of a number or a span, superseded ones included, in the order they were recorded.
CREATE INDEX form_use_number ON form_use (form_typ_cd, form_nbr, use_id);
-- A use is superseded once: corrections form a chain, never a tree.
CREATE UNIQUE INDEX form_use_superseded ON form_use (supersedes_id) WHERE supersedes_id IS NOT NULL;

-- Reported uses that contradict the standing use of their number: kept apart, never
-- overwriting it (a number reported used twice).
CREATE TABLE form_use_conflict (
  conflict_id      BIGSERIAL PRIMARY KEY,
  form_typ_cd      TEXT COLLATE "C" NOT NULL,
  form_nbr         BIGINT NOT NULL,
  disposition      TEXT COLLATE "C" NOT NULL,
  used_on          TEXT COLLATE "C" NOT NULL,
  reg_nbr          BIGINT NOT NULL,
  reference        TEXT COLLATE "C" NOT NULL,
  note             TEXT COLLATE "C" NOT NULL,
  source_text      TEXT COLLATE "C" NOT NULL,
  import_id        BIGINT REFERENCES form_use_import (import_id),
  line_nbr         BIGINT NOT NULL,
  contradicts_id   BIGINT NOT NULL REFERENCES form_use (use_id),
  recorded_by_id   BIGINT NOT NULL,
  recorded_by_name TEXT COLLATE "C" NOT NULL,
  recorded_at      TEXT COLLATE "C" NOT NULL,
  request_id       TEXT COLLATE "C" NOT NULL
);
CREATE INDEX form_use_conflict_number ON form_use_conflict (form_typ_cd, form_nbr);
