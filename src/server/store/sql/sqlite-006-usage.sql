-- Migration 6, SQLite edition (keep in step with postgresql-006-usage.sql).
--
-- What became of each form number: one record per reported use (docs/usage.md). A
-- correction is a new record superseding the standing one; both are kept, and at most one
-- use of a number stands, which the partial unique index makes the database's rule.

-- The files imported, by the SHA-256 of their bytes: the same file again changes nothing.
CREATE TABLE form_use_import (
  import_id        INTEGER PRIMARY KEY,
  file_name        TEXT NOT NULL,
  file_hash        TEXT NOT NULL UNIQUE,
  source_text      TEXT NOT NULL,
  lines            INTEGER NOT NULL,
  recorded         INTEGER NOT NULL,
  already          INTEGER NOT NULL,
  conflicts        INTEGER NOT NULL,
  recorded_by_id   INTEGER NOT NULL,
  recorded_by_name TEXT NOT NULL,
  recorded_at      TEXT NOT NULL,
  request_id       TEXT NOT NULL
);

CREATE TABLE form_use (
  use_id            INTEGER PRIMARY KEY,
  form_typ_cd       TEXT NOT NULL,
  form_nbr          INTEGER NOT NULL,
  disposition       TEXT NOT NULL CHECK (disposition IN ('ISSUED', 'SPOILED', 'LOST', 'STOLEN')),
  used_on           TEXT NOT NULL
                    CHECK (used_on GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]'),
  reg_nbr           INTEGER NOT NULL,
  reference         TEXT NOT NULL,
  note              TEXT NOT NULL,
  source_text       TEXT NOT NULL,
  import_id         INTEGER REFERENCES form_use_import (import_id),
  line_nbr          INTEGER NOT NULL,
  recorded_by_id    INTEGER NOT NULL,
  recorded_by_name  TEXT NOT NULL,
  recorded_at       TEXT NOT NULL,
  request_id        TEXT NOT NULL,
  supersedes_id     INTEGER REFERENCES form_use (use_id),
  correction_reason TEXT,
  standing          INTEGER NOT NULL CHECK (standing IN (0, 1)),
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
  conflict_id      INTEGER PRIMARY KEY,
  form_typ_cd      TEXT NOT NULL,
  form_nbr         INTEGER NOT NULL,
  disposition      TEXT NOT NULL,
  used_on          TEXT NOT NULL,
  reg_nbr          INTEGER NOT NULL,
  reference        TEXT NOT NULL,
  note             TEXT NOT NULL,
  source_text      TEXT NOT NULL,
  import_id        INTEGER REFERENCES form_use_import (import_id),
  line_nbr         INTEGER NOT NULL,
  contradicts_id   INTEGER NOT NULL REFERENCES form_use (use_id),
  recorded_by_id   INTEGER NOT NULL,
  recorded_by_name TEXT NOT NULL,
  recorded_at      TEXT NOT NULL,
  request_id       TEXT NOT NULL
);
CREATE INDEX form_use_conflict_number ON form_use_conflict (form_typ_cd, form_nbr);
