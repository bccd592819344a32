-- Forms inventory of the central server, PostgreSQL edition. Keep the tables, columns and
-- their meaning in step with sqlite-001-inventory.sql: the store runs the same statements
-- on both. Texts use the "C" collation so that comparisons and order are byte-wise, as in
-- SQLite.

CREATE EXTENSION IF NOT EXISTS btree_gist;

CREATE TABLE form_type (
  code        TEXT COLLATE "C" PRIMARY KEY,
  description TEXT NOT NULL,
  lowest      BIGINT NOT NULL,
  highest     BIGINT NOT NULL,
  CHECK (lowest <= highest)
);

CREATE TABLE status_code (
  code        TEXT COLLATE "C" PRIMARY KEY,
  description TEXT NOT NULL
);

CREATE TABLE troop (
  trp_id TEXT COLLATE "C" PRIMARY KEY,
  name   TEXT NOT NULL
);

CREATE TABLE district (
  trp_id      TEXT COLLATE "C" NOT NULL REFERENCES troop (trp_id),
  trp_dist_id TEXT COLLATE "C" NOT NULL,
  name        TEXT NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id)
);

CREATE TABLE officer (
  insp_id            BIGINT PRIMARY KEY,
  last_name          TEXT NOT NULL,
  first_name         TEXT,
  middle_initial     TEXT,
  racf_id            TEXT,
  dist_id            TEXT COLLATE "C",
  sub_dist_id        TEXT COLLATE "C",
  duty_start         TEXT COLLATE "C",
  duty_end           TEXT COLLATE "C",
  assignment_updated TEXT
);
CREATE INDEX officer_station ON officer (dist_id, sub_dist_id);

-- The exclusion constraint makes overlapping ranges of one form type impossible to store,
-- whatever a client or a concurrent save does; the store checks first to give a clear
-- message, this is the guarantee.
CREATE TABLE form_range (
  range_id      BIGSERIAL PRIMARY KEY,
  form_typ_cd   TEXT COLLATE "C" NOT NULL REFERENCES form_type (code),
  frm_form_nbr  BIGINT NOT NULL,
  to_form_nbr   BIGINT NOT NULL,
  trp_id        TEXT COLLATE "C" NOT NULL,
  trp_dist_id   TEXT COLLATE "C" NOT NULL,
  asgnd_reg_nbr BIGINT NOT NULL,
  trp_actn_cd   TEXT COLLATE "C" NOT NULL REFERENCES status_code (code),
  rmng_form_cnt BIGINT NOT NULL,
  form_qtr_dt   BIGINT,
  form_yr_dt    BIGINT,
  cmmt_txt      TEXT,
  chg_ts        TEXT NOT NULL,
  chg_req_id    TEXT NOT NULL,
  chg_usr_id    BIGINT NOT NULL,
  CHECK (to_form_nbr >= frm_form_nbr),
  CHECK (rmng_form_cnt BETWEEN 0 AND to_form_nbr - frm_form_nbr + 1),
  UNIQUE (form_typ_cd, frm_form_nbr),
  CONSTRAINT form_range_no_overlap
    EXCLUDE USING gist (form_typ_cd WITH =, int8range(frm_form_nbr, to_form_nbr, '[]') WITH &&)
);
CREATE INDEX form_range_station ON form_range (trp_id, trp_dist_id, form_typ_cd, frm_form_nbr);
CREATE INDEX form_range_registry ON form_range (asgnd_reg_nbr, form_typ_cd, frm_form_nbr);

CREATE TABLE applied_request (
  request_id  TEXT PRIMARY KEY,
  fingerprint TEXT NOT NULL,
  applied_at  TEXT NOT NULL,
  row_count   BIGINT NOT NULL
);

CREATE TABLE range_audit (
  audit_id           BIGSERIAL PRIMARY KEY,
  request_id         TEXT NOT NULL,
  requester          TEXT NOT NULL,
  user_id            BIGINT NOT NULL,
  applied_at         TEXT NOT NULL,
  action             TEXT NOT NULL,
  form_typ_cd        TEXT COLLATE "C" NOT NULL,
  before_from        BIGINT,
  before_to          BIGINT,
  before_trp_id      TEXT,
  before_trp_dist_id TEXT,
  before_reg_nbr     BIGINT,
  before_actn_cd     TEXT,
  before_rmng_cnt    BIGINT,
  before_qtr_dt      BIGINT,
  before_yr_dt       BIGINT,
  before_cmmt_txt    TEXT,
  after_from         BIGINT NOT NULL,
  after_to           BIGINT NOT NULL,
  after_trp_id       TEXT NOT NULL,
  after_trp_dist_id  TEXT NOT NULL,
  after_reg_nbr      BIGINT NOT NULL,
  after_actn_cd      TEXT NOT NULL,
  after_rmng_cnt     BIGINT NOT NULL,
  after_qtr_dt       BIGINT,
  after_yr_dt        BIGINT,
  after_cmmt_txt     TEXT
);
CREATE INDEX range_audit_form ON range_audit (form_typ_cd, after_from);
