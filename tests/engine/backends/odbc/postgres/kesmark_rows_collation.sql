-- A text key whose own collation orders otherwise than byte by byte ("a"
-- before "B"), compared with itself: the rows are read with COLLATE "C".
CREATE TABLE words (word TEXT COLLATE "und-x-icu" PRIMARY KEY, n INTEGER);
INSERT INTO words VALUES ('a', 1), ('B', 2), ('c', 3), ('D', 4), ('é', 5), ('E', 6);
