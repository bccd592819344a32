-- Demo data of the local database: the installation region NORTH (the default region of
-- the site settings) and a second region, SOUTH, whose rows every look-up must leave out.
--
-- Validity dates that matter to the look-ups (an entry that starts next month, one that
-- ended last month) are written relative to the day the file is built, so the rules show
-- whenever it is built. Dates that lie far in the past are written out.

-- Troops and districts ------------------------------------------------------------------

INSERT INTO TROOP (REGION, TRP_ID, TRP_NME) VALUES
  ('NORTH', 'A', 'Troop A - Capital'),
  ('NORTH', 'B', 'Troop B - Lakeshore'),
  ('NORTH', 'C', 'Troop C - Northern Tier'),
  ('NORTH', 'D', 'Troop D - River Valley'),
  ('NORTH', 'E', 'Troop E - Highlands'),
  ('NORTH', 'F', 'Troop F - Interstate Corridor'),
  ('SOUTH', 'A', 'Troop A - Coastal'),
  ('SOUTH', 'G', 'Troop G - Delta');

INSERT INTO TRP_DIST (REGION, TRP_ID, TRP_DIST_ID, DIST_NME) VALUES
  ('NORTH', 'A', '1',  'Capital City'),
  ('NORTH', 'A', '2',  'Fairview'),
  ('NORTH', 'A', '3',  'Millbrook'),
  ('NORTH', 'A', '4',  'Headquarters Commercial Vehicle Unit'),
  ('NORTH', 'B', '1',  'Port Harbor'),
  ('NORTH', 'B', '2',  'Sandy Point'),
  ('NORTH', 'B', '3',  'Westlake'),
  ('NORTH', 'C', '1',  'Pine Ridge'),
  ('NORTH', 'C', '2',  'Cold Springs'),
  ('NORTH', 'C', '3',  'Iron Falls'),
  ('NORTH', 'C', '4',  'Border Crossing'),
  ('NORTH', 'C', '5',  'Moose Lake'),
  ('NORTH', 'D', '1',  'Riverton'),
  ('NORTH', 'D', '2',  'Oak Hollow'),
  ('NORTH', 'D', '12', 'Scale House 12'),
  ('NORTH', 'E', '1',  'Summit'),
  ('NORTH', 'E', '2',  'Granite Pass'),
  ('NORTH', 'E', '3',  'Elk Meadow'),
  ('NORTH', 'E', '4',  'Timberline'),
  ('NORTH', 'F', '1',  'Junction City'),
  ('NORTH', 'F', '2',  'Crossroads'),
  ('NORTH', 'F', '10', 'Eastbound Weigh Station'),
  ('NORTH', 'F', '11', 'Westbound Weigh Station'),
  ('SOUTH', 'A', '1',  'Bayport'),
  ('SOUTH', 'A', '2',  'Gulf Shores'),
  ('SOUTH', 'G', '1',  'Cypress Bend'),
  ('SOUTH', 'G', '2',  'Cane Landing');

-- Form types ------------------------------------------------------------------------------
-- ADTL_INFO_TXT holds the form numbers a type allows, "low-high"; the central server reads
-- its bounds from there.

INSERT INTO RVO_CODE (REGION, CD_TBL_ID, CD_TBL_CD, CD_TBL_DES, ADTL_INFO_TXT, EFCTV_DT, END_DT)
VALUES
  ('NORTH', 'FORMTYPE', 'C', 'ENF001 Citation',               '1100001-1999999',  '2004-07-01', NULL),
  ('NORTH', 'FORMTYPE', 'M', 'ENF003 Warning',                '1000001-1999999',  '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'V', 'ENF004 Vehicle Inspection',     '1000-1999999',     '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'O', 'ENF507 Out of Service Report',  '1000001-1999999',  '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'T', 'Temporary Permits',             '1000001-1999999',  '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'R', 'Receipts',                      '1200001-1999999',  '2001-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'B', 'OOS Decals',                    '1-9999999999',     '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'Y', 'CVSA Decals',                   '1-9999999999',     '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'Z', 'Seals',                         '1-9999999999',     '1998-01-01', NULL),
  ('NORTH', 'FORMTYPE', 'K', 'Wrecker Decals',                '1-9999999',        '2006-03-01', NULL),
  -- The citation's wording before the 2004 revision of the form.
  ('NORTH', 'FORMTYPE', 'C', 'ENF001 Uniform Traffic Ticket', '1000001-1999999',  '1998-01-01', '2004-06-30'),

  ('SOUTH', 'FORMTYPE', 'C', 'Citation ENF001',               '1100001-1999999',  '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'M', 'Warning ENF003',                '1000001-1999999',  '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'V', 'Vehicle Inspection ENF004',     '1000-1999999',     '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'O', 'Out of Service ENF507',         '1000001-1999999',  '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'T', 'Trip Permits',                  '1000001-1999999',  '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'R', 'Cash Receipts',                 '1200001-1999999',  '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'B', 'Out of Service Decals',         '1-9999999999',     '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'Y', 'CVSA Inspection Decals',        '1-9999999999',     '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'Z', 'Security Seals',                '1-9999999999',     '2002-01-01', NULL),
  ('SOUTH', 'FORMTYPE', 'K', 'Tow Truck Decals',              '1-9999999',        '2002-01-01', NULL);

-- Delisting reasons (status codes of a range) ---------------------------------------------
-- "A" is the status of a range in use. "Unassign" and "Void" have a meaning of their own
-- to the assignment dialog. The last rows show the validity rules: a reason that ended last
-- month, one that ends in six months, one in force only from next month, one that ends
-- today and one that starts today (both in force today).

INSERT INTO RVO_CODE (REGION, CD_TBL_ID, CD_TBL_CD, CD_TBL_DES, ADTL_INFO_TXT, EFCTV_DT, END_DT)
VALUES
  ('NORTH', 'DELISTCD', 'A', 'Activate',                      NULL, '1998-01-01', NULL),
  ('NORTH', 'DELISTCD', 'U', 'Unassign',                      NULL, '1998-01-01', NULL),
  ('NORTH', 'DELISTCD', 'V', 'Void',                          NULL, '1998-01-01', NULL),
  ('NORTH', 'DELISTCD', 'R', 'Returned to Supply',            NULL, '1998-01-01', NULL),
  ('NORTH', 'DELISTCD', 'L', 'Lost',                          NULL, '2004-07-01', NULL),
  ('NORTH', 'DELISTCD', 'D', 'Damaged',                       NULL, '1998-01-01', NULL),
  ('NORTH', 'DELISTCD', 'S', 'Stolen',                        NULL, '1998-01-01', NULL),
  ('NORTH', 'DELISTCD', 'I', 'Issued in Error',               NULL, '2009-10-01', NULL),
  -- "Lost" was "Lost or Misplaced" until mid-2004.
  ('NORTH', 'DELISTCD', 'L', 'Lost or Misplaced',             NULL, '1998-01-01', '2004-06-30'),
  ('NORTH', 'DELISTCD', 'E', 'Expired',                       NULL,
   date('now', '-3 years'), date('now', '-1 month')),
  ('NORTH', 'DELISTCD', 'W', 'Withdrawn from Service',        NULL,
   date('now', '-2 years'), date('now', '+6 months')),
  ('NORTH', 'DELISTCD', 'T', 'Transferred to Another Agency', NULL,
   date('now', '+1 month'), NULL),
  ('NORTH', 'DELISTCD', 'X', 'Destroyed by Court Order',      NULL,
   date('now', '-5 years'), date('now')),
  ('NORTH', 'DELISTCD', 'F', 'Forwarded to Headquarters',     NULL, date('now'), NULL),

  ('SOUTH', 'DELISTCD', 'A', 'Activate',                      NULL, '2002-01-01', NULL),
  ('SOUTH', 'DELISTCD', 'U', 'Unassign',                      NULL, '2002-01-01', NULL),
  ('SOUTH', 'DELISTCD', 'V', 'Voided',                        NULL, '2002-01-01', NULL),
  ('SOUTH', 'DELISTCD', 'R', 'Returned to Stock',             NULL, '2002-01-01', NULL),
  ('SOUTH', 'DELISTCD', 'L', 'Lost in Transit',               NULL, '2002-01-01', NULL);

-- Officers --------------------------------------------------------------------------------
-- The first ten NORTH officers are written out: 1001 is the forms clerk the default user id
-- of the site settings points at; the others carry the name forms the display name has to
-- cope with (suffix in the last name, one-letter first name, no first name, no middle
-- initial, an apostrophe).

INSERT INTO MVE061TB (REGION, INSP_ID, INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT,
                      USR_RACF_ID, DIST_ID, SUB_DIST_ID, INSP_DUTY_STRT_DT, INSP_DUTY_END_DT,
                      INSP_ASSN_DT_UPDT)
VALUES
  ('NORTH', 1001, 'Hartley',  'Margaret', 'A', 'MHARTLE', 'A', '4',  '1996-05-13', NULL, '2011-02-01'),
  ('NORTH', 1002, 'Smith,jr', 'John',     'Q', 'JSMITH2', 'A', '1',  '2003-09-02', NULL, '2003-09-02'),
  ('NORTH', 1003, 'Brown,SR', 'Robert',   NULL, 'RBROWN',  'B', '2',  '1994-03-21', NULL, '2008-11-17'),
  ('NORTH', 1004, 'Lee',      'J',        NULL, 'JLEE',    'C', '4',  '2012-06-04', NULL, '2012-06-04'),
  ('NORTH', 1005, 'Doe',      NULL,       'A',  'ADOE',    'D', '12', '2015-01-12', NULL, '2015-01-12'),
  ('NORTH', 1006, 'Smith',    'J',        'Marie', 'JSMITH', 'E', '1', '2010-08-30', NULL, '2019-04-01'),
  ('NORTH', 1007, 'O''Brien', 'Patrick',  'M', 'POBRIEN', 'F', '10', '2007-04-16', NULL, '2007-04-16'),
  ('NORTH', 1008, 'Garcia, Jr', 'Luis',   'E', 'LGARCIA', 'F', '11', '2016-10-03', NULL, '2016-10-03'),
  ('NORTH', 1009, 'Nguyen',   'Thi',      '',  'TNGUYEN', 'B', '1',  '2018-02-26', NULL, '2018-02-26'),
  ('NORTH', 1010, 'Kowalski,Sr', 'Walter', 'J', 'WKOWALS', 'A', '2', '1989-07-10',
   '2019-12-31', '2019-12-31'),

  ('SOUTH', 2001, 'Boudreaux', 'Andre',   'L', 'ABOUDRE', 'A', '1', '2001-03-05', NULL, '2001-03-05'),
  ('SOUTH', 2002, 'Landry,jr', 'Claude',  'P', 'CLANDRY', 'A', '2', '2005-07-18', NULL, '2005-07-18'),
  ('SOUTH', 2003, 'Thibodeaux', 'Marie',  NULL, 'MTHIBOD', 'G', '1', '2011-11-07', NULL, '2011-11-07'),
  ('SOUTH', 2004, 'Fontenot',  'R',       'J', 'RFONTEN', 'G', '2', '2017-05-22', NULL, '2017-05-22'),
  ('SOUTH', 2005, 'Hebert',    'Lucille', 'A', 'LHEBERT', 'G', '1', '1999-09-13', NULL, '2014-01-06');

-- The rest of NORTH's officers (registry numbers 1011 to 1160): names combined from the
-- lists below, spread over every duty station of the region. Every few officers the first
-- name is cut to its initial, the middle initial is left out, or a suffix is written into
-- the last name; a few have left duty.
INSERT INTO MVE061TB (REGION, INSP_ID, INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT,
                      USR_RACF_ID, DIST_ID, SUB_DIST_ID, INSP_DUTY_STRT_DT, INSP_DUTY_END_DT,
                      INSP_ASSN_DT_UPDT)
WITH RECURSIVE
  seq(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM seq WHERE n < 149),
  last_names(i, name) AS (VALUES
    (0, 'Anderson'), (1, 'Baker'), (2, 'Carlson'), (3, 'Dawson'), (4, 'Eriksen'),
    (5, 'Fitzgerald'), (6, 'Gustafson'), (7, 'Holloway'), (8, 'Iverson'), (9, 'Jablonski'),
    (10, 'Keller'), (11, 'Lindqvist'), (12, 'McAllister'), (13, 'Novak'), (14, 'Olsen'),
    (15, 'Peterson'), (16, 'Quinlan'), (17, 'Ramirez'), (18, 'Schultz'), (19, 'Thompson'),
    (20, 'Underwood'), (21, 'Vasquez'), (22, 'Whitaker'), (23, 'Yamamoto'), (24, 'Zimmerman'),
    (25, 'Bergstrom'), (26, 'Castellano'), (27, 'Dubois'), (28, 'Fairbanks'), (29, 'Grant'),
    (30, 'Halvorsen'), (31, 'Jensen'), (32, 'Kaminski'), (33, 'Lambert'), (34, 'Moreau'),
    (35, 'Nakamura'), (36, 'Ostrowski'), (37, 'Pellegrini'), (38, 'Reyes'), (39, 'Sorensen'),
    (40, 'Tremblay'), (41, 'Vance')),
  first_names(i, name) AS (VALUES
    (0, 'Michael'), (1, 'Susan'), (2, 'David'), (3, 'Karen'), (4, 'James'), (5, 'Linda'),
    (6, 'Thomas'), (7, 'Patricia'), (8, 'Daniel'), (9, 'Angela'), (10, 'Christopher'),
    (11, 'Denise'), (12, 'Steven'), (13, 'Rebecca'), (14, 'Mark'), (15, 'Teresa'),
    (16, 'Brian'), (17, 'Heather'), (18, 'Kevin'), (19, 'Melissa'), (20, 'Gregory'),
    (21, 'Nicole'), (22, 'Joseph'), (23, 'Amanda'), (24, 'Raymond'), (25, 'Diane'),
    (26, 'Eric'), (27, 'Kimberly'), (28, 'Scott'), (29, 'Laura'), (30, 'Timothy')),
  stations(i, troop, district) AS (
    SELECT row_number() OVER (ORDER BY TRP_ID, TRP_DIST_ID) - 1, TRP_ID, TRP_DIST_ID
    FROM TRP_DIST WHERE REGION = 'NORTH'),
  officers AS (
    SELECT
      seq.n AS n,
      1011 + seq.n AS id,
      -- A suffix written the way the registry has them, in any letter case.
      l.name || CASE seq.n % 37 WHEN 3 THEN ',jr' WHEN 17 THEN ',Sr' WHEN 29 THEN ',JR'
                                ELSE '' END AS last_name,
      CASE WHEN seq.n % 13 = 4 THEN substr(f.name, 1, 1) ELSE f.name END AS first_name,
      CASE WHEN seq.n % 5 = 2 THEN NULL
           ELSE substr('ABCDEFGHJKLMNPRSTW', (seq.n * 5) % 18 + 1, 1) END AS middle,
      upper(substr(f.name, 1, 1) || substr(l.name, 1, 6)) AS racf,
      -- Days on duty: two months to twenty-five years.
      60 + (seq.n * 211) % 9000 AS days
    FROM seq
    JOIN last_names l ON l.i = (seq.n * 17) % 42
    JOIN first_names f ON f.i = (seq.n * 7 + seq.n / 31) % 31)
SELECT
  'NORTH', o.id, o.last_name, o.first_name, o.middle,
  o.racf || CASE WHEN o.n >= 42 THEN o.n / 42 ELSE '' END,
  s.troop, s.district,
  date('now', printf('-%d days', o.days)),
  CASE WHEN o.n % 41 = 9 THEN date('now', printf('-%d days', o.days / 3)) END,
  CASE WHEN o.n % 41 = 9 THEN date('now', printf('-%d days', o.days / 3))
       WHEN o.n % 3 = 0 THEN date('now', printf('-%d days', o.days / 2))
       ELSE date('now', printf('-%d days', o.days)) END
FROM officers o
JOIN stations s ON s.i = (o.n * 5) % (SELECT count(*) FROM stations)
ORDER BY o.id;
