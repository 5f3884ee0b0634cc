-- Database 2 of the pair whose rows are matched by key (see kesmark_rows_a.sql).

CREATE TABLE updated (id INTEGER PRIMARY KEY, name TEXT NOT NULL, amount INTEGER);
INSERT INTO updated VALUES
    (1, 'one', 10), (2, 'two', 20), (3, 'three', 30), (4, 'four', 40), (5, 'five', 50),
    (6, 'six', 60), (7, 'seven', 70), (8, 'eight', 80), (9, 'nine', 90), (10, 'ten', 100);
-- PostgreSQL writes each updated row anew at the end of the table.
UPDATE updated SET amount = 21 WHERE id = 2;
UPDATE updated SET amount = 55 WHERE id = 5;
UPDATE updated SET amount = 88 WHERE id = 8;

CREATE TABLE deleted (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO deleted VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), (5, 'e');
DELETE FROM deleted WHERE id = 3;

CREATE TABLE added (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO added VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd');

CREATE TABLE reversed (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO reversed VALUES (5, 'e');
INSERT INTO reversed VALUES (4, 'd');
INSERT INTO reversed VALUES (3, 'c');
INSERT INTO reversed VALUES (2, 'b');
INSERT INTO reversed VALUES (1, 'a');

CREATE TABLE composite (k1 TEXT NOT NULL, k2 INTEGER NOT NULL, note TEXT,
                        PRIMARY KEY (k1, k2));
INSERT INTO composite VALUES ('Z', 1, 'capital'), ('n', 2, NULL), ('n', 1, 'now set'),
    ('a]b, c', 2, 'y'), ('a]b, c', 1, 'x!');

CREATE TABLE coded (code TEXT NOT NULL UNIQUE, label TEXT);
INSERT INTO coded VALUES ('c', 'sea'), ('a', 'ay'), ('b', 'bee');

CREATE TABLE loose (x INTEGER, y TEXT);
INSERT INTO loose VALUES (3, 'r'), (2, 'q'), (1, 'p');

CREATE TABLE many (id INTEGER PRIMARY KEY, v INTEGER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)
INSERT INTO many SELECT i, -i FROM n;
