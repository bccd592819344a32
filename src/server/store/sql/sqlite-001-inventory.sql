-- Forms inventory of the central server, SQLite edition. Keep the tables, columns and
-- their meaning in step with postgresql-001-inventory.sql: the store runs the same
-- statements on both.

-- Reference data, copied from the workstation's demo database when the store is created.
CREATE TABLE form_type (
  code        TEXT PRIMARY KEY,
  description TEXT NOT NULL,
  lowest      INTEGER NOT NULL,
  highest     INTEGER NOT NULL,
  CHECK (lowest <= highest)
);

CREATE TABLE status_code (
  code        TEXT PRIMARY KEY,
  description TEXT NOT NULL
);

CREATE TABLE troop (
  trp_id TEXT PRIMARY KEY,
  name   TEXT NOT NULL
);

CREATE TABLE district (
  trp_id      TEXT NOT NULL REFERENCES troop (trp_id),
  trp_dist_id TEXT NOT NULL,
  name        TEXT NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id)
);

-- One row per officer: DIST_ID/SUB_DIST_ID of the registry are the troop and district of
-- the current duty station.
CREATE TABLE officer (
  insp_id            INTEGER PRIMARY KEY,
  last_name          TEXT NOT NULL,
  first_name         TEXT,
  middle_initial     TEXT,
  racf_id            TEXT,
  dist_id            TEXT,
  sub_dist_id        TEXT,
  duty_start         TEXT,
  duty_end           TEXT,
  assignment_updated TEXT
);
CREATE INDEX officer_station ON officer (dist_id, sub_dist_id);

-- The inventory. The unique key (form type, From) is also the index every look-up of a
-- form number walks: since ranges of a type never overlap, the range holding N is the
-- one with the greatest From not above N.
CREATE TABLE form_range (
  range_id      INTEGER PRIMARY KEY,
  form_typ_cd   TEXT NOT NULL REFERENCES form_type (code),
  frm_form_nbr  INTEGER NOT NULL,
  to_form_nbr   INTEGER NOT NULL,
  trp_id        TEXT NOT NULL,
  trp_dist_id   TEXT NOT NULL,
  asgnd_reg_nbr INTEGER NOT NULL,
  trp_actn_cd   TEXT NOT NULL REFERENCES status_code (code),
  rmng_form_cnt INTEGER NOT NULL,
  form_qtr_dt   INTEGER,
  form_yr_dt    INTEGER,
  cmmt_txt      TEXT,
  chg_ts        TEXT NOT NULL,
  chg_req_id    TEXT NOT NULL,
  chg_usr_id    INTEGER NOT NULL,
  CHECK (to_form_nbr >= frm_form_nbr),
  CHECK (rmng_form_cnt BETWEEN 0 AND to_form_nbr - frm_form_nbr + 1),
  UNIQUE (form_typ_cd, frm_form_nbr)
);
CREATE INDEX form_range_station ON form_range (trp_id, trp_dist_id, form_typ_cd, frm_form_nbr);
CREATE INDEX form_range_registry ON form_range (asgnd_reg_nbr, form_typ_cd, frm_form_nbr);

-- Saves already applied, by request id: a request sent again is not applied twice.
CREATE TABLE applied_request (
  request_id  TEXT PRIMARY KEY,
  fingerprint TEXT NOT NULL,
  applied_at  TEXT NOT NULL,
  row_count   INTEGER NOT NULL
);

-- Chain of custody: one row per applied change row (and per range of a loaded inventory).
CREATE TABLE range_audit (
  audit_id           INTEGER PRIMARY KEY,
  request_id         TEXT NOT NULL,
  requester          TEXT NOT NULL,
  user_id            INTEGER NOT NULL,
  applied_at         TEXT NOT NULL,
  action             TEXT NOT NULL,
  form_typ_cd        TEXT NOT NULL,
  before_from        INTEGER,
  before_to          INTEGER,
  before_trp_id      TEXT,
  before_trp_dist_id TEXT,
  before_reg_nbr     INTEGER,
  before_actn_cd     TEXT,
  before_rmng_cnt    INTEGER,
  before_qtr_dt      INTEGER,
  before_yr_dt       INTEGER,
  before_cmmt_txt    TEXT,
  after_from         INTEGER NOT NULL,
  after_to           INTEGER NOT NULL,
  after_trp_id       TEXT NOT NULL,
  after_trp_dist_id  TEXT NOT NULL,
  after_reg_nbr      INTEGER NOT NULL,
  after_actn_cd      TEXT NOT NULL,
  after_rmng_cnt     INTEGER NOT NULL,
  after_qtr_dt       INTEGER,
  after_yr_dt        INTEGER,
  after_cmmt_txt     TEXT
);
CREATE INDEX range_audit_form ON range_audit (form_typ_cd, after_from);
