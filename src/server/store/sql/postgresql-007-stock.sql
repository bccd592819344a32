-- Migration 7, PostgreSQL edition (keep in step with sqlite-007-stock.sql).
--
-- Minimum stock per Troop/District and form type, and the alerts raised when a station's
-- unassigned forms fall below it (docs/stock.md). One alert per crossing: at most one is open
-- per station and form type, which the partial unique index makes the database's rule, so
-- two servers saving at once cannot both raise it.

CREATE TABLE stock_minimum (
  trp_id       TEXT COLLATE "C" NOT NULL,
  trp_dist_id  TEXT COLLATE "C" NOT NULL,
  form_typ_cd  TEXT COLLATE "C" NOT NULL,
  minimum_qty  BIGINT NOT NULL CHECK (minimum_qty > 0),
  set_by_id    BIGINT NOT NULL,
  set_by_name  TEXT COLLATE "C" NOT NULL,
  set_at       TEXT COLLATE "C" NOT NULL,
  request_id   TEXT COLLATE "C" NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id, form_typ_cd)
);

CREATE TABLE stock_alert (
  alert_id     BIGSERIAL PRIMARY KEY,
  trp_id       TEXT COLLATE "C" NOT NULL,
  trp_dist_id  TEXT COLLATE "C" NOT NULL,
  form_typ_cd  TEXT COLLATE "C" NOT NULL,
  on_hand      BIGINT NOT NULL,
  minimum_qty  BIGINT NOT NULL,
  raised_at    TEXT COLLATE "C" NOT NULL,
  request_id   TEXT COLLATE "C" NOT NULL,
  cleared_at   TEXT COLLATE "C",
  cleared_on_hand BIGINT,
  CHECK ((cleared_at IS NULL) = (cleared_on_hand IS NULL))
);
CREATE UNIQUE INDEX stock_alert_open ON stock_alert (trp_id, trp_dist_id, form_typ_cd)
  WHERE cleared_at IS NULL;
