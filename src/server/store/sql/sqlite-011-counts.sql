-- Migration 11, SQLite edition (keep in step with postgresql-011-counts.sql).
--
-- Physical counts (docs/counts.md): an auditor counts a station's forms of some types
-- against its book. The book is fixed when the count is opened and kept here, so the result
-- never changes with the inventory; the counted numbers are kept merged into spans. Once
-- certified a count is never changed: the store refuses it. An administrator settles each
-- missing span afterwards, as lost (a save that delists it, under the settlement's request
-- id) or as found later.

CREATE TABLE physical_count (
  count_nbr          INTEGER PRIMARY KEY,
  trp_id             TEXT NOT NULL,
  trp_dist_id        TEXT NOT NULL,
  form_types         TEXT NOT NULL CHECK (length(form_types) > 0),
  opened_by_id       INTEGER NOT NULL,
  opened_by_name     TEXT NOT NULL,
  opened_at          TEXT NOT NULL,
  request_id         TEXT NOT NULL UNIQUE,
  certified_by_id    INTEGER,
  certified_by_name  TEXT,
  certified_at       TEXT,
  statement          TEXT,
  CHECK ((certified_at IS NULL) = (statement IS NULL))
);
CREATE INDEX physical_count_station ON physical_count (trp_id, trp_dist_id, certified_at);

-- The book as it stood at the opening: what should be on the shelf or with each officer.
CREATE TABLE physical_count_book (
  count_nbr    INTEGER NOT NULL REFERENCES physical_count (count_nbr),
  form_typ_cd  TEXT NOT NULL,
  frm_nbr      INTEGER NOT NULL,
  to_nbr       INTEGER NOT NULL CHECK (to_nbr >= frm_nbr),
  reg_nbr      INTEGER NOT NULL,
  status       TEXT NOT NULL,
  PRIMARY KEY (count_nbr, form_typ_cd, frm_nbr)
);
-- A form's history finds the counts that reached its number.
CREATE INDEX physical_count_book_form ON physical_count_book (form_typ_cd, frm_nbr);

CREATE TABLE physical_count_counted (
  count_nbr    INTEGER NOT NULL REFERENCES physical_count (count_nbr),
  form_typ_cd  TEXT NOT NULL,
  frm_nbr      INTEGER NOT NULL,
  to_nbr       INTEGER NOT NULL CHECK (to_nbr >= frm_nbr),
  PRIMARY KEY (count_nbr, form_typ_cd, frm_nbr)
);
CREATE INDEX physical_count_counted_form ON physical_count_counted (form_typ_cd, frm_nbr);

-- Why each counted number outside the book was unexpected, as the inventory said when the
-- count was certified: the certified result reads it, never the inventory of later days.
CREATE TABLE physical_count_unexpected (
  count_nbr    INTEGER NOT NULL REFERENCES physical_count (count_nbr),
  form_typ_cd  TEXT NOT NULL,
  frm_nbr      INTEGER NOT NULL,
  to_nbr       INTEGER NOT NULL CHECK (to_nbr >= frm_nbr),
  reason       TEXT NOT NULL,
  detail       TEXT NOT NULL,
  PRIMARY KEY (count_nbr, form_typ_cd, frm_nbr)
);

-- The entries of counted numbers applied, by request id: an entry sent again adds nothing.
CREATE TABLE physical_count_entry (
  request_id   TEXT PRIMARY KEY,
  count_nbr    INTEGER NOT NULL REFERENCES physical_count (count_nbr),
  entered_at   TEXT NOT NULL,
  user_id      INTEGER NOT NULL,
  span_cnt     INTEGER NOT NULL
);

CREATE TABLE physical_count_settlement (
  count_nbr    INTEGER NOT NULL REFERENCES physical_count (count_nbr),
  form_typ_cd  TEXT NOT NULL,
  frm_nbr      INTEGER NOT NULL,
  to_nbr       INTEGER NOT NULL CHECK (to_nbr >= frm_nbr),
  kind         TEXT NOT NULL CHECK (kind IN ('lost', 'found_later')),
  note         TEXT NOT NULL,
  user_id      INTEGER NOT NULL,
  user_name    TEXT NOT NULL,
  settled_at   TEXT NOT NULL,
  request_id   TEXT NOT NULL UNIQUE,
  PRIMARY KEY (count_nbr, form_typ_cd, frm_nbr)
);
