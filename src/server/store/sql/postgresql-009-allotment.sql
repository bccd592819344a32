-- Migration 9, PostgreSQL edition (keep in step with sqlite-009-allotment.sql).
--
-- The limits on what one officer may hold (docs/allotment.md): an allotment cap per
-- Troop/District and form type (the most forms of the type an officer of the station may
-- hold unused), and a reissue rule per station (no new forms of a type to an officer whose
-- earlier ones of it are not yet all used or returned). A save that breaks one is refused
-- unless it carries an override with a reason; each override is kept with the figures it
-- lifted, under the request id of the save, which every history entry of the save carries.

CREATE TABLE allotment_cap (
  trp_id       TEXT COLLATE "C" NOT NULL,
  trp_dist_id  TEXT COLLATE "C" NOT NULL,
  form_typ_cd  TEXT COLLATE "C" NOT NULL,
  cap_qty      BIGINT NOT NULL CHECK (cap_qty > 0),
  set_by_id    BIGINT NOT NULL,
  set_by_name  TEXT COLLATE "C" NOT NULL,
  set_at       TEXT COLLATE "C" NOT NULL,
  request_id   TEXT COLLATE "C" NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id, form_typ_cd)
);

CREATE TABLE reissue_rule (
  trp_id       TEXT COLLATE "C" NOT NULL,
  trp_dist_id  TEXT COLLATE "C" NOT NULL,
  set_by_id    BIGINT NOT NULL,
  set_by_name  TEXT COLLATE "C" NOT NULL,
  set_at       TEXT COLLATE "C" NOT NULL,
  request_id   TEXT COLLATE "C" NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id)
);

CREATE TABLE save_override (
  request_id     TEXT COLLATE "C" PRIMARY KEY,
  overridden_at  TEXT COLLATE "C" NOT NULL,
  user_id        BIGINT NOT NULL,
  user_name      TEXT COLLATE "C" NOT NULL,
  reason         TEXT COLLATE "C" NOT NULL CHECK (length(reason) > 0),
  lifted         TEXT COLLATE "C" NOT NULL
);
