-- A text key whose own collation orders otherwise than byte by byte ("a"
-- before "B"), compared with itself: the rows are read with COLLATE "C".
-- Without ICU the column keeps the database's collation and the test that
-- reads this database says it cannot show the difference.
DO $$
BEGIN
    IF EXISTS (SELECT 1 FROM pg_collation WHERE collname = 'und-x-icu') THEN
        CREATE TABLE words (word TEXT COLLATE "und-x-icu" PRIMARY KEY, n INTEGER);
    ELSE
        CREATE TABLE words (word TEXT PRIMARY KEY, n INTEGER);
    END IF;
END
$$;
INSERT INTO words VALUES ('a', 1), ('B', 2), ('c', 3), ('D', 4), ('é', 5), ('E', 6);
