-- Side B of the lost-connection test: the same rows as side A, no gate.
-- No key: the rows are read in the order the server keeps them, as they
-- come, instead of in key order (which may sort the whole table first).
CREATE TABLE big (
    id integer NOT NULL,
    payload text NOT NULL
);
INSERT INTO big SELECT n, 'row ' || n FROM generate_series(1, 5000) AS n;
