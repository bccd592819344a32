-- Migration 9, SQLite edition (keep in step with postgresql-009-allotment.sql).
--
-- The limits on what one officer may hold (docs/allotment.md): an allotment cap per
-- Troop/District and form type (the most forms of the type an officer of the station may
-- hold unused), and a reissue rule per station (no new forms of a type to an officer whose
-- earlier ones of it are not yet all used or returned). A save that breaks one is refused
-- unless it carries an override with a reason; each override is kept with the figures it
-- lifted, under the request id of the save, which every history entry of the save carries.

CREATE TABLE allotment_cap (
  trp_id       TEXT NOT NULL,
  trp_dist_id  TEXT NOT NULL,
  form_typ_cd  TEXT NOT NULL,
  cap_qty      INTEGER NOT NULL CHECK (cap_qty > 0),
  set_by_id    INTEGER NOT NULL,
  set_by_name  TEXT NOT NULL,
  set_at       TEXT NOT NULL,
  request_id   TEXT NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id, form_typ_cd)
);

CREATE TABLE reissue_rule (
  trp_id       TEXT NOT NULL,
  trp_dist_id  TEXT NOT NULL,
  set_by_id    INTEGER NOT NULL,
  set_by_name  TEXT NOT NULL,
  set_at       TEXT NOT NULL,
  request_id   TEXT NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id)
);

CREATE TABLE save_override (
  request_id     TEXT PRIMARY KEY,
  overridden_at  TEXT NOT NULL,
  user_id        INTEGER NOT NULL,
  user_name      TEXT NOT NULL,
  reason         TEXT NOT NULL CHECK (length(reason) > 0),
  lifted         TEXT NOT NULL
);
