-- Migration 8, PostgreSQL edition (keep in step with sqlite-008-receipts.sql).
--
-- Hand receipts (docs/receipts.md): every save that gives forms to an officer issues one per
-- officer and Troop/District, in the save's own transaction, so a receipt exists exactly when
-- its forms moved. The officer's name is kept as it was that day: a receipt is a signed paper
-- and must print the same when the registry changes later.

CREATE TABLE hand_receipt (
  receipt_nbr   BIGSERIAL PRIMARY KEY,
  request_id    TEXT COLLATE "C" NOT NULL,
  issued_at     TEXT COLLATE "C" NOT NULL,
  reg_nbr       BIGINT NOT NULL,
  officer_nme   TEXT COLLATE "C" NOT NULL,
  trp_id        TEXT COLLATE "C" NOT NULL,
  trp_dist_id   TEXT COLLATE "C" NOT NULL,
  clerk_usr_id  BIGINT NOT NULL,
  clerk_usr_nme TEXT COLLATE "C" NOT NULL,
  requester     TEXT COLLATE "C" NOT NULL,
  print_cnt     BIGINT NOT NULL DEFAULT 0 CHECK (print_cnt >= 0),
  UNIQUE (request_id, reg_nbr, trp_id, trp_dist_id)
);
CREATE INDEX hand_receipt_officer ON hand_receipt (reg_nbr, issued_at);

-- One line per range given, with the forms handed over (its remaining count then) and the
-- history entry that wrote it, through which the form history links back.
CREATE TABLE hand_receipt_line (
  receipt_nbr   BIGINT NOT NULL REFERENCES hand_receipt (receipt_nbr),
  line_nbr      BIGINT NOT NULL,
  form_typ_cd   TEXT COLLATE "C" NOT NULL,
  frm_form_nbr  BIGINT NOT NULL,
  to_form_nbr   BIGINT NOT NULL,
  form_cnt      BIGINT NOT NULL,
  audit_id      BIGINT NOT NULL UNIQUE,
  PRIMARY KEY (receipt_nbr, line_nbr),
  CHECK (to_form_nbr >= frm_form_nbr AND form_cnt BETWEEN 0 AND to_form_nbr - frm_form_nbr + 1)
);
