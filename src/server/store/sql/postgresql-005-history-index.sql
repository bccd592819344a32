-- Migration 5, PostgreSQL edition (keep in step with sqlite-005-history-index.sql).
--
-- The chain of custody indexed as the ranges are. Every entry's "after" lies within its
-- "before" (a change may split, move or delist forms, never add any), so each entry can name
-- the entry that wrote the range it replaced (`parent_id`), and each entry whose range was
-- replaced later knows when (`ended_at`, the time of the replacing save; a withdrawal ends at
-- once). The history of one form is then a walk up a short chain instead of a scan of every
-- entry below the number, and what a Troop/District or an officer held at any instant is the
-- entries written before it and not ended by it.
ALTER TABLE range_audit ADD COLUMN parent_id BIGINT;
ALTER TABLE range_audit ADD COLUMN ended_at TEXT COLLATE "C";

-- The entry that wrote a stored range: the latest one (not a withdrawal) whose "after" has
-- the range's bounds. This index answers it in one probe, from the index alone, and replaces
-- the index by From, which a history had to walk from the lowest number up.
DROP INDEX range_audit_form;
CREATE INDEX range_audit_bounds ON range_audit (form_typ_cd, after_from, after_to, audit_id, event);

UPDATE range_audit
   SET parent_id = (SELECT p.audit_id FROM range_audit p
                     WHERE p.form_typ_cd = range_audit.form_typ_cd
                       AND p.after_from = range_audit.before_from
                       AND p.after_to = range_audit.before_to
                       AND p.event <> 'WITHDRAW'
                       AND p.audit_id < range_audit.audit_id
                     ORDER BY p.audit_id DESC LIMIT 1)
 WHERE before_from IS NOT NULL;
CREATE INDEX range_audit_parent ON range_audit (parent_id);

UPDATE range_audit SET ended_at = applied_at WHERE event = 'WITHDRAW';
UPDATE range_audit
   SET ended_at = (SELECT min(c.applied_at) FROM range_audit c
                    WHERE c.parent_id = range_audit.audit_id)
 WHERE event <> 'WITHDRAW';

-- What a Troop/District or an officer held at an instant, and what reached it since: the
-- entries of the holder not ended before the instant; of those still held, the ones written
-- since the instant.
CREATE INDEX range_audit_station_held
  ON range_audit (after_trp_id, after_trp_dist_id, ended_at, applied_at);
CREATE INDEX range_audit_officer_held ON range_audit (after_reg_nbr, ended_at, applied_at);
-- Withdrawals: a withdrawn number's history ends with the latest one holding it, and a
-- re-received number's goes on with the one before the receipt. The index holds only
-- withdrawals, with every column those look-ups read.
CREATE INDEX range_audit_withdrawn ON range_audit (form_typ_cd, after_from, after_to, audit_id, event)
  WHERE event = 'WITHDRAW';
