-- Tables read through COPY beside the driver: one column of each type COPY
-- reads, rows of the values whose text is hardest to read alike.
CREATE TABLE kinds (
    id integer PRIMARY KEY,
    small smallint,
    big bigint,
    exact numeric,
    money_like numeric(12, 2),
    single real,
    double double precision,
    body text,
    short varchar(12),
    padded char(5),
    label varchar(63),
    flag boolean,
    day date,
    moment timestamp,
    moment_tz timestamptz,
    clock time,
    data bytea,
    token uuid
);
INSERT INTO kinds VALUES
    (1, 0, 0, 0, 0, 0, 0, '', '', '', '', false, '2024-02-29', '2020-01-01 00:00:00',
     '2020-06-01 12:00:00+02', '00:00:00', '', '00000000-0000-0000-0000-000000000000'),
    (2, -32768, -9223372036854775808, -0.000, -9999999999.99, '-0', '-0', ' ', ' x ', 'ab', 'n',
     true, '0001-01-01', '1999-12-31 23:59:59.999999', '1970-01-01 00:00:00+00', '23:59:59.999999',
     '\x00ff', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'),
    (3, 32767, 9223372036854775807, 123456789012345678901234567890.123456789012345,
     12.50, 3.4028235e38, 1.7976931348623157e308,
     E'tab\there\nnew line\r\\back slash \\N', E'a\tb', 'abcde', 'label', NULL,
     '1899-12-30', '2020-01-01 12:34:56.789', '2021-03-04 05:06:07.5-08', '24:00:00',
     E'\\x5c4e0a09', NULL),
    (4, NULL, 1, 'NaN', NULL, 'NaN', 'NaN', 'ÅÄÖ ÿ 😀 中文', 'ÅÄÖ', 'Ö', 'ÅÄÖ', false,
     '9999-12-31', '0001-01-01 00:00:00', 'infinity', '12:00:00.5', NULL, NULL),
    (5, 1, -1, 'Infinity', 0.01, 'Infinity', '-Infinity', E'\\N', NULL, NULL, NULL, true,
     'infinity', 'infinity', '-infinity', NULL, E'\\x00', NULL),
    (6, -1, 2, '-Infinity', 1, '-Infinity', 1e-310, 'N', 'N', 'N', 'N', true,
     '-infinity', '-infinity', NULL, '01:02:03', E'\\x0a', NULL),
    (7, 2, 3, 1e-40, 2, 1.17549435e-38, 0.1, E'\x01\x02 control', '''quoted''', '"', '"', false,
     '4713-01-01 BC', '0044-03-15 12:00:00 BC', '0044-03-15 12:00:00+00 BC', '00:00:01', E'\\xdeadbeef',
     'ffffffff-ffff-ffff-ffff-ffffffffffff'),
    (8, 3, 4, 1.10, 3, 0.1, 5e-324, 'x', 'x', 'x', 'x', NULL, '2000-01-01', '2000-01-01 00:00:00.000001',
     '2000-01-01 00:00:00.000001+00', '00:00:00.000001', NULL, NULL),
    -- Values longer than a piece: read again through the driver, by key.
    (9, 4, 5, 1, 4, 1, 1, repeat('long text ', 7000), 'y', 'y', 'y', true, '2000-01-02',
     '2000-01-02 00:00:00', '2000-01-02 00:00:00+00', '00:00:02', decode(repeat('00ff', 40000), 'hex'),
     NULL),
    (10, 5, 6, 2, 5, 2, 2, 'short', 'z', 'z', 'z', false, '2000-01-03', '2000-01-03 00:00:00',
     '2000-01-03 00:00:00+00', '00:00:03', decode(repeat('ab', 70000), 'hex'), NULL),
    (11, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
     NULL, NULL);

-- The system's own type of names (the driver reads it as text only).
ALTER TABLE kinds ADD COLUMN title name;
UPDATE kinds SET title = label;

-- A type COPY does not read: the table is read through the driver.
CREATE TABLE other_kinds (id integer PRIMARY KEY, span interval, amount money);
INSERT INTO other_kinds VALUES (1, '1 day 02:00:00', 12.5), (2, NULL, NULL);

-- Written to by the tests while a comparison reads it.
CREATE TABLE live (id integer PRIMARY KEY, name text);
INSERT INTO live SELECT n, 'name ' || n FROM generate_series(1, 100) AS n;

-- Many small tables: reading them all must not hold one lock each.
DO $$
BEGIN
    FOR t IN 1..300 LOOP
        EXECUTE format('CREATE TABLE many_%s (id integer PRIMARY KEY, v text)', t);
        EXECUTE format('INSERT INTO many_%s VALUES (1, ''a'')', t);
    END LOOP;
END
$$;
