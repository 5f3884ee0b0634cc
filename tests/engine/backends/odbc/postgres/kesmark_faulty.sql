-- A table whose reading fails part-way: once the table has been read through
-- to its last row (its count), row 1500 of 2000 cannot be read any more (its
-- row-level security policy raises an error), so that a data comparison
-- stops there, whatever the number of rows read at a time.
CREATE FUNCTION readable(row_id integer) RETURNS boolean
    LANGUAGE plpgsql VOLATILE
    AS $$
BEGIN
    IF row_id = 2000 THEN
        PERFORM set_config('kesmark.counted', 'yes', false);
    ELSIF row_id = 1500 AND current_setting('kesmark.counted', true) = 'yes' THEN
        RAISE EXCEPTION 'row % cannot be read', row_id;
    END IF;
    RETURN true;
END
$$;

CREATE TABLE faulty (
    id integer PRIMARY KEY,
    name text NOT NULL
);
INSERT INTO faulty SELECT n, 'name ' || n FROM generate_series(1, 2000) AS n;
CREATE POLICY readable ON faulty USING (readable(id));
ALTER TABLE faulty ENABLE ROW LEVEL SECURITY;
ALTER TABLE faulty FORCE ROW LEVEL SECURITY;
