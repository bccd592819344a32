-- Migration 7, SQLite edition (keep in step with postgresql-007-stock.sql).
--
-- Minimum stock per Troop/District and form type, and the alerts raised when a station's
-- unassigned forms fall below it (docs/stock.md). One alert per crossing: at most one is open
-- per station and form type, which the partial unique index makes the database's rule, so
-- two servers saving at once cannot both raise it.

CREATE TABLE stock_minimum (
  trp_id       TEXT NOT NULL,
  trp_dist_id  TEXT NOT NULL,
  form_typ_cd  TEXT NOT NULL,
  minimum_qty  INTEGER NOT NULL CHECK (minimum_qty > 0),
  set_by_id    INTEGER NOT NULL,
  set_by_name  TEXT NOT NULL,
  set_at       TEXT NOT NULL,
  request_id   TEXT NOT NULL,
  PRIMARY KEY (trp_id, trp_dist_id, form_typ_cd)
);

CREATE TABLE stock_alert (
  alert_id     INTEGER PRIMARY KEY,
  trp_id       TEXT NOT NULL,
  trp_dist_id  TEXT NOT NULL,
  form_typ_cd  TEXT NOT NULL,
  on_hand      INTEGER NOT NULL,
  minimum_qty  INTEGER NOT NULL,
  raised_at    TEXT NOT NULL,
  request_id   TEXT NOT NULL,
  cleared_at   TEXT,
  cleared_on_hand INTEGER,
  CHECK ((cleared_at IS NULL) = (cleared_on_hand IS NULL))
);
CREATE UNIQUE INDEX stock_alert_open ON stock_alert (trp_id, trp_dist_id, form_typ_cd)
  WHERE cleared_at IS NULL;
