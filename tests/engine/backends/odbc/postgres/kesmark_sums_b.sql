-- Database 2 of the row-checksum tests: kesmark_sums_a.sql with one
-- difference per table (equal_rows has none).
CREATE TABLE equal_rows (
    id integer PRIMARY KEY,
    name text NOT NULL,
    amount numeric(12, 2),
    ratio double precision,
    data bytea,
    flag boolean,
    day date
);
-- Inserted in another order: the rows' order on disk does not count.
INSERT INTO equal_rows
SELECT n, 'name ' || n, n * 1.25, n / 7.0, decode(lpad(to_hex(n), 8, '0'), 'hex'), n % 2 = 0,
       DATE '2020-01-01' + n
FROM generate_series(3000, 1, -1) AS n;

CREATE TABLE first_changed (id integer PRIMARY KEY, name text NOT NULL);
INSERT INTO first_changed SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n;
UPDATE first_changed SET name = 'changed' WHERE id = 1;
CREATE TABLE middle_changed (id integer PRIMARY KEY, name text NOT NULL);
INSERT INTO middle_changed SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n;
UPDATE middle_changed SET name = 'changed' WHERE id = 1501;
CREATE TABLE last_changed (id bigint PRIMARY KEY, name text NOT NULL);
INSERT INTO last_changed SELECT n, 'name ' || n FROM generate_series(1, 3000) AS n;
UPDATE last_changed SET name = 'changed' WHERE id = 3000;

CREATE TABLE one_side (id integer PRIMARY KEY, name text NOT NULL);
INSERT INTO one_side SELECT n, 'name ' || n FROM generate_series(1, 3001) AS n
WHERE n NOT IN (10, 2990);

CREATE TABLE nulls (id integer PRIMARY KEY, note text, amount integer);
INSERT INTO nulls SELECT n, CASE WHEN n % 3 = 0 THEN NULL ELSE 'n' || n END,
       CASE WHEN n % 5 = 0 THEN NULL ELSE n END
FROM generate_series(1, 3000) AS n;
UPDATE nulls SET note = '' WHERE id = 99;

CREATE TABLE separators (id integer PRIMARY KEY, x text, y text);
INSERT INTO separators SELECT n, 'x' || n, 'y' || n FROM generate_series(1, 3000) AS n;
UPDATE separators SET x = 'a', y = 'bc' WHERE id = 7;
UPDATE separators SET x = 'Nt0:', y = '' WHERE id = 1200;
UPDATE separators SET x = '1', y = ':ab' WHERE id = 2500;
UPDATE separators SET x = 'N', y = NULL WHERE id = 2600;

CREATE TABLE composite (k1 text, k2 integer, v text, PRIMARY KEY (k1, k2));
INSERT INTO composite SELECT chr(65 + n % 52 + CASE WHEN n % 52 >= 26 THEN 6 ELSE 0 END) || 'key',
       n, 'v' || n FROM generate_series(1, 3000) AS n;
UPDATE composite SET v = 'changed' WHERE k2 = 1700;
INSERT INTO composite VALUES ('Zkey', 0, 'only here');

CREATE TABLE other_types (id integer PRIMARY KEY, amount double precision);
INSERT INTO other_types SELECT n, n / 8.0 FROM generate_series(1, 3000) AS n;
UPDATE other_types SET amount = 0.5 WHERE id = 2000;

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
UPDATE caseless_texts SET word = 'WORD42' WHERE id = 42;

CREATE TABLE large (code text PRIMARY KEY, n integer NOT NULL);
INSERT INTO large
SELECT CASE WHEN n % 3 = 0 THEN upper(md5(n::text)) ELSE md5(n::text) END, n
FROM generate_series(1, 150000) AS n;
UPDATE large SET n = -1 WHERE n = 77777;
DELETE FROM large WHERE n = 123;
INSERT INTO large VALUES ('only here', 0);
