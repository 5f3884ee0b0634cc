-- A table whose reading fails part-way: it can be counted, but any other
-- statement reading its rows fails at row 1500 of 2000 (its row-level
-- security policy raises an error), so that a data comparison stops there,
-- in whichever session and however many rows at a time it reads.
CREATE FUNCTION readable(row_id integer) RETURNS boolean
    LANGUAGE plpgsql VOLATILE
    AS $$
BEGIN
    IF row_id = 1500 AND pg_catalog.current_query() NOT ILIKE '%count(*)%' THEN
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
