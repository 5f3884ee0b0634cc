-- Database 1 of the row-checksum tests: tables of 3,000 rows each, so that
-- with small key ranges the comparison cuts them several times. Database 2
-- (kesmark_sums_b.sql) is built alike, with one difference per table.
CREATE TABLE equal_rows (
    id integer PRIMARY KEY,
    name text NOT NULL,
    amount numeric(12, 2),
    ratio double precision,
    data bytea,
    flag boolean,
    day date
);
INSERT INTO equal_rows
SELECT n, 'name ' || n, n * 1.25, n / 7.0, decode(lpad(to_hex(n), 8, '0'), 'hex'), n % 2 = 0,
       DATE '2020-01-01' + n
FROM generate_series(1, 3000) AS n;

CREATE TABLE first_changed (id integer PRIMARY KEY, name text NOT NULL);
INSERT INTO first_changed SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n;
CREATE TABLE middle_changed (id integer PRIMARY KEY, name text NOT NULL);
INSERT INTO middle_changed SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n;
CREATE TABLE last_changed (id bigint PRIMARY KEY, name text NOT NULL);
INSERT INTO last_changed SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n;

-- Rows 10 and 2990 only here; 1500 only in database 2, and 3001.
CREATE TABLE one_side (id integer PRIMARY KEY, name text NOT NULL);
INSERT INTO one_side SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n
WHERE n NOT IN (1500);

-- Null against empty text at 100; Nulls on both sides elsewhere.
CREATE TABLE nulls (id integer PRIMARY KEY, note text, amount integer);
INSERT INTO nulls SELECT n, CASE WHEN n % 3 = 0 THEN NULL ELSE 'n' || n END,
       CASE WHEN n % 5 = 0 THEN NULL ELSE n END
FROM generate_series(1, 3000) AS n;

-- Texts that read alike once run together: ('ab', 'c') and ('a', 'bc'), and
-- texts made of the separators themselves.
CREATE TABLE separators (id integer PRIMARY KEY, x text, y text);
INSERT INTO separators SELECT n, 'x' || n, 'y' || n FROM generate_series(1, 3000) AS n;
UPDATE separators SET x = 'ab', y = 'c' WHERE id = 7;
UPDATE separators SET x = 'N', y = 't0:' WHERE id = 1200;
UPDATE separators SET x = '1:a', y = 'b' WHERE id = 2500;
UPDATE separators SET x = NULL, y = 'N' WHERE id = 2600;

-- A key of two fields, text first: capitals sort before small letters.
CREATE TABLE composite (k1 text, k2 integer, v text, PRIMARY KEY (k1, k2));
INSERT INTO composite SELECT chr(65 + n % 52 + CASE WHEN n % 52 >= 26 THEN 6 ELSE 0 END) || 'key',
       n, 'v' || n FROM generate_series(1, 3000) AS n;

-- An amount of another type in database 2: its checksums cannot be trusted.
CREATE TABLE other_types (id integer PRIMARY KEY, amount numeric(12, 4));
INSERT INTO other_types SELECT n, n / 8.0 FROM generate_series(1, 3000) AS n;

-- Texts of a case-insensitive collation (where ICU is there to make one):
-- the checksums hash their bytes, as the rows are compared.
DO $$
BEGIN
    IF EXISTS (SELECT 1 FROM pg_collation WHERE collname = 'und-x-icu') THEN
        CREATE COLLATION caseless (provider = icu, locale = 'und-u-ks-level2',
                                   deterministic = false);
        CREATE TABLE caseless_texts (id integer PRIMARY KEY, word text COLLATE caseless);
    ELSE
        CREATE TABLE caseless_texts (id integer PRIMARY KEY, word text);
    END IF;
END
$$;
INSERT INTO caseless_texts SELECT n, 'word' || n FROM generate_series(1, 3000) AS n;

-- A table large enough that the first cut into key ranges comes from a
-- sample of its keys; keys in no order of the rows' places, a third of
-- them in capitals.
CREATE TABLE large (code text PRIMARY KEY, n integer NOT NULL);
INSERT INTO large
SELECT CASE WHEN n % 3 = 0 THEN upper(md5(n::text)) ELSE md5(n::text) END, n
FROM generate_series(1, 150000) AS n;
