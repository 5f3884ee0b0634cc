-- A table written alike by SQLite and PostgreSQL, for the row-checksum test
-- of a SQLite file against a server: integers, text, floating point.
CREATE TABLE portable (id integer PRIMARY KEY, name text, ratio double precision);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
INSERT INTO portable SELECT i, 'name ' || i, i / 8.0 FROM n;
UPDATE portable SET name = NULL WHERE id % 100 = 0;
