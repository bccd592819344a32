-- The workstation's local database: the agency's code table, the officer registry and the
-- troop and district tables. The program opens it read-only; it is built from this file
-- and demo.sql when missing (docs/local-database.md).
--
-- Dates are ISO texts 'YYYY-MM-DD', so that comparing them with SQLite's date() is a plain
-- text comparison. The CHECK constraints keep anything else out.
--
-- Raise user_version with every change of this file: the program refuses a file built by
-- another version instead of failing later on a missing column.
PRAGMA user_version = 1;

-- Code table: one row per entry of a code table (CD_TBL_ID, e.g. 'FORMTYPE', 'DELISTCD')
-- of a region. An entry is in force from EFCTV_DT to END_DT, both inclusive; a null END_DT
-- means "until further notice". A code may have several rows over time (a replaced
-- wording), hence EFCTV_DT in the key.
CREATE TABLE RVO_CODE (
  REGION        TEXT NOT NULL CHECK (REGION <> ''),
  CD_TBL_ID     TEXT NOT NULL CHECK (CD_TBL_ID <> ''),
  CD_TBL_CD     TEXT NOT NULL CHECK (CD_TBL_CD <> ''),
  CD_TBL_DES    TEXT,
  ADTL_INFO_TXT TEXT,
  EFCTV_DT      TEXT NOT NULL CHECK (EFCTV_DT IS date(EFCTV_DT)),
  END_DT        TEXT CHECK (END_DT IS NULL OR END_DT IS date(END_DT)),
  CHECK (END_DT IS NULL OR END_DT >= EFCTV_DT),
  -- The look-ups select by region and table, then by code: this key is their index.
  PRIMARY KEY (REGION, CD_TBL_ID, CD_TBL_CD, EFCTV_DT)
);

-- Troops of a region: one character each.
CREATE TABLE TROOP (
  REGION  TEXT NOT NULL CHECK (REGION <> ''),
  TRP_ID  TEXT NOT NULL CHECK (length(TRP_ID) = 1),
  TRP_NME TEXT NOT NULL,
  PRIMARY KEY (REGION, TRP_ID)
);

-- Districts of a troop: one or two characters. Troop and district together make the
-- Troop/District text of the screen ("A1", "F12").
CREATE TABLE TRP_DIST (
  REGION      TEXT NOT NULL,
  TRP_ID      TEXT NOT NULL,
  TRP_DIST_ID TEXT NOT NULL CHECK (length(TRP_DIST_ID) BETWEEN 1 AND 2),
  DIST_NME    TEXT NOT NULL,
  PRIMARY KEY (REGION, TRP_ID, TRP_DIST_ID),
  FOREIGN KEY (REGION, TRP_ID) REFERENCES TROOP (REGION, TRP_ID)
);

-- Officer registry. INSP_ID is the registry number. DIST_ID is the troop and SUB_DIST_ID
-- the district of the officer's current duty station. A suffix is written into the last
-- name ("Smith,jr"), as the agency's registry has always stored it.
CREATE TABLE MVE061TB (
  REGION            TEXT    NOT NULL CHECK (REGION <> ''),
  INSP_ID           INTEGER NOT NULL CHECK (INSP_ID > 0),
  INSP_NME_LST      TEXT    NOT NULL CHECK (INSP_NME_LST <> ''),
  INSP_NME_FRST     TEXT,
  INSP_NME_MDL_INT  TEXT,
  USR_RACF_ID       TEXT,
  DIST_ID           TEXT,
  SUB_DIST_ID       TEXT,
  INSP_DUTY_STRT_DT TEXT CHECK (INSP_DUTY_STRT_DT IS NULL
                                OR INSP_DUTY_STRT_DT IS date(INSP_DUTY_STRT_DT)),
  INSP_DUTY_END_DT  TEXT CHECK (INSP_DUTY_END_DT IS NULL
                                OR INSP_DUTY_END_DT IS date(INSP_DUTY_END_DT)),
  INSP_ASSN_DT_UPDT TEXT CHECK (INSP_ASSN_DT_UPDT IS NULL
                                OR INSP_ASSN_DT_UPDT IS date(INSP_ASSN_DT_UPDT)),
  -- The primary key serves the officer look-up (a region's officers by registry number).
  PRIMARY KEY (REGION, INSP_ID),
  FOREIGN KEY (REGION, DIST_ID, SUB_DIST_ID) REFERENCES TRP_DIST (REGION, TRP_ID, TRP_DIST_ID)
);

-- The officers of one duty station (the trooper picker lists a Troop/District's officers).
CREATE INDEX MVE061TB_STATION ON MVE061TB (REGION, DIST_ID, SUB_DIST_ID);
