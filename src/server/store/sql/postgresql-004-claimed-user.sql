-- Migration 4, PostgreSQL edition (keep in step with sqlite-004-claimed-user.sql).
--
-- Requests are authenticated: user_id and user_name of an entry are those of the token's
-- owner. The user id the client said it acts for is kept beside them, for the record only;
-- entries written before have none.
ALTER TABLE range_audit ADD COLUMN claimed_user_id BIGINT;
