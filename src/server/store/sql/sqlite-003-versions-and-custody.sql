-- Migration 3, SQLite edition (keep in step with postgresql-003-versions-and-custody.sql).
--
-- Every range carries a version that each change increases, so that a save built on an old
-- search is noticed, and the name of whoever changed it last, so that the clerk can be told.
ALTER TABLE form_range ADD COLUMN row_version INTEGER NOT NULL DEFAULT 1 CHECK (row_version >= 1);
ALTER TABLE form_range ADD COLUMN chg_usr_nme TEXT NOT NULL DEFAULT '';

-- The chain of custody records what each entry was (RECEIVE, PIECE, CHANGE, LOAD, WITHDRAW),
-- who acted by name, and why numbers were withdrawn.
ALTER TABLE range_audit ADD COLUMN user_name TEXT NOT NULL DEFAULT '';
ALTER TABLE range_audit ADD COLUMN event TEXT NOT NULL DEFAULT '';
ALTER TABLE range_audit ADD COLUMN reason TEXT;

-- The entries of one request are found by its id: a custody report asks so, and so does the
-- classification below, which would otherwise read the whole history once per entry.
CREATE INDEX range_audit_request ON range_audit (request_id, action);

-- Entries written before: a LOAD stays a load and an UPD a change; an ADD lying inside the
-- span an UPD of the same request replaced was a piece of that range (it takes that range as
-- its "before"); any other ADD was a receipt.
UPDATE range_audit SET event = 'LOAD' WHERE action = 'LOAD';
UPDATE range_audit SET event = 'CHANGE' WHERE action = 'UPD';
UPDATE range_audit
   SET event = 'PIECE',
       (before_from, before_to, before_trp_id, before_trp_dist_id, before_reg_nbr,
        before_actn_cd, before_rmng_cnt, before_qtr_dt, before_yr_dt, before_cmmt_txt) =
       (SELECT u.before_from, u.before_to, u.before_trp_id, u.before_trp_dist_id,
               u.before_reg_nbr, u.before_actn_cd, u.before_rmng_cnt, u.before_qtr_dt,
               u.before_yr_dt, u.before_cmmt_txt
          FROM range_audit u
         WHERE u.request_id = range_audit.request_id AND u.action = 'UPD'
           AND u.form_typ_cd = range_audit.form_typ_cd
           AND u.before_from <= range_audit.after_from AND u.before_to >= range_audit.after_to
         ORDER BY u.audit_id LIMIT 1)
 WHERE action = 'ADD'
   AND EXISTS (SELECT 1 FROM range_audit u
                WHERE u.request_id = range_audit.request_id AND u.action = 'UPD'
                  AND u.form_typ_cd = range_audit.form_typ_cd
                  AND u.before_from <= range_audit.after_from
                  AND u.before_to >= range_audit.after_to);
UPDATE range_audit SET event = 'RECEIVE' WHERE action = 'ADD' AND event = '';
