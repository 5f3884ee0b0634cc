-- Database 1 of the pair whose rows are matched by key. Portable SQL: the
-- SQLite tests build the same pair from this file and kesmark_rows_b.sql.

-- Three rows get new values in database 2.
CREATE TABLE updated (id INTEGER PRIMARY KEY, name TEXT NOT NULL, amount INTEGER);
INSERT INTO updated VALUES
    (1, 'one', 10), (2, 'two', 20), (3, 'three', 30), (4, 'four', 40), (5, 'five', 50),
    (6, 'six', 60), (7, 'seven', 70), (8, 'eight', 80), (9, 'nine', 90), (10, 'ten', 100);

-- One row is deleted in database 2.
CREATE TABLE deleted (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO deleted VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e');

-- One row is added in database 2.
CREATE TABLE added (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO added VALUES (1, 'a'), (2, 'b'), (3, 'c');

-- The same rows, inserted in reverse order in database 2.
CREATE TABLE reversed (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO reversed VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e');

-- A composite key whose text holds a bracket and a comma, and Nulls in a
-- field that is not part of the key.
CREATE TABLE composite (k1 TEXT NOT NULL, k2 INTEGER NOT NULL, note TEXT,
                        PRIMARY KEY (k1, k2));
INSERT INTO composite VALUES ('a]b, c', 1, 'x'), ('a]b, c', 2, 'y'), ('n', 1, NULL),
    ('n', 2, NULL), ('Z', 1, 'capital');

-- No primary key, but a unique key over a field that is never Null.
CREATE TABLE coded (code TEXT NOT NULL UNIQUE, label TEXT);
INSERT INTO coded VALUES ('b', 'bee'), ('a', 'ay'), ('c', 'sea');

-- No key at all: matched by position, in each database's own order.
CREATE TABLE loose (x INTEGER, y TEXT);
INSERT INTO loose VALUES (1, 'p'), (2, 'q'), (3, 'r');

-- Forty rows that all differ in database 2, more than a small MaxRows.
CREATE TABLE many (id INTEGER PRIMARY KEY, v INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)
INSERT INTO many SELECT i, i FROM n;
