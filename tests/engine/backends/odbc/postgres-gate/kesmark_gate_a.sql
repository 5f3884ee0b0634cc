-- Side A of the lost-connection test: a table of 5,000 rows whose row 3000
-- cannot be read, once the table has been read through to its last row (its
-- count), until the test releases advisory lock 4242. The test holds that
-- lock, waits for the comparison to block on it, and stops the server.
-- No key: the rows are read in the order the server keeps them, as they
-- come, instead of in key order (which may sort the whole table first).
CREATE TABLE big (
    id integer NOT NULL,
    payload text NOT NULL
);
INSERT INTO big SELECT n, 'row ' || n FROM generate_series(1, 5000) AS n;

CREATE FUNCTION gate(row_id integer) RETURNS boolean
    LANGUAGE plpgsql VOLATILE
    AS $$
BEGIN
    IF row_id = 5000 THEN
        PERFORM set_config('kesmark.read_through', 'yes', false);
    ELSIF row_id = 3000 AND current_setting('kesmark.read_through', true) = 'yes' THEN
        PERFORM pg_advisory_lock_shared(4242);
    END IF;
    RETURN true;
END
$$;
CREATE POLICY gate ON big USING (gate(id));
ALTER TABLE big ENABLE ROW LEVEL SECURITY;
ALTER TABLE big FORCE ROW LEVEL SECURITY;
