-- The reading tests' rows: more rows than one block of rows or one batch of
-- the driver holds, values longer than their bound buffers, and long values
-- read in pieces.
CREATE TABLE series (
    id integer PRIMARY KEY,
    small integer,
    big bigint,
    real_number double precision,
    amount numeric(12, 2),
    huge numeric,
    label varchar(20),
    body text,
    data bytea,
    day date,
    moment timestamp,
    flag boolean
);
INSERT INTO series
SELECT n,
       CASE WHEN n % 7 = 0 THEN NULL ELSE n * 3 END,
       n::bigint * 1000000007,
       n / 8.0,
       n * 1.25,
       -- 91 digits now and then: longer than a number's bound buffer
       CASE WHEN n % 250 = 0 THEN 10::numeric ^ 90 + n ELSE n END,
       'label ' || n || CASE WHEN n % 5 = 0 THEN ' é😀' ELSE '' END,
       -- a long text now and then: longer than its bound buffer
       CASE WHEN n % 100 = 0 THEN repeat('long ünïcode 😀 ', 20 + n) ELSE 'short ' || n END,
       CASE WHEN n % 50 = 0 THEN decode(repeat('00ff10', 500 + n), 'hex')
            ELSE decode(lpad(to_hex(n), 8, '0'), 'hex') END,
       DATE '2024-01-01' + n,
       TIMESTAMP '2024-01-01 00:00:00' + n * INTERVAL '37 seconds'
           + CASE WHEN n % 9 = 0 THEN INTERVAL '0.5 seconds' ELSE INTERVAL '0' END,
       n % 2 = 0
FROM generate_series(1, 2500) AS n;

-- Long values: text whose UTF-16 pieces may part a surrogate pair, bytes,
-- Null, empty and short values.
CREATE TABLE long_values (
    id integer PRIMARY KEY,
    body text,
    data bytea
);
INSERT INTO long_values VALUES
    (1, repeat('ab😀é', 70000), decode(repeat('0001020304ff', 100000), 'hex')),
    (2, NULL, NULL),
    (3, '', ''::bytea),
    (4, 'short', '\x0102');

-- Wide rows: 64 KiB of text each, for the driver's batches to be sized by.
CREATE TABLE wide (
    id integer PRIMARY KEY,
    body text
);
INSERT INTO wide SELECT n, repeat(chr(97 + n % 26), 65536) FROM generate_series(1, 300) AS n;
