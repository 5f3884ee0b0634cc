-- Side B of the lost-connection test: the same rows as side A, no gate.
CREATE TABLE big (
    id integer PRIMARY KEY,
    payload text NOT NULL
);
INSERT INTO big SELECT n, 'row ' || n FROM generate_series(1, 5000) AS n;
