-- Release B of the PostgreSQL test pair: release A (kesmark_a.sql) with the
-- changes marked "A:" below.
CREATE TABLE customers (
    id integer PRIMARY KEY,
    name varchar(60) NOT NULL,
    email varchar(120),
    note text,
    phone varchar(30)                   -- A: absent
);
COMMENT ON COLUMN customers.email IS 'where the invoices go';

CREATE TABLE orders (
    id integer PRIMARY KEY,
    customer_id integer NOT NULL,
    total numeric(10, 2) DEFAULT 1,     -- A: DEFAULT 0
    placed date NOT NULL,
    quantity bigint,                    -- A: integer
    CONSTRAINT orders_customer FOREIGN KEY (customer_id) REFERENCES customers (id)
        ON UPDATE CASCADE               -- A: ON DELETE CASCADE
);
-- A: an index orders_placed
CREATE UNIQUE INDEX orders_customer_placed ON orders (customer_id, placed);

CREATE TABLE "Odd ""Name""" (
    "Key Column" integer PRIMARY KEY,
    "ünïcode" text
);

CREATE TABLE attachments (
    id integer PRIMARY KEY,
    body bytea
);

CREATE SCHEMA archive;
CREATE TABLE archive.orders (
    id integer PRIMARY KEY,
    closed timestamp
);

CREATE VIEW big_orders AS
    SELECT id, customer_id, total FROM orders WHERE total > 500;  -- A: > 100

CREATE FUNCTION order_count(customer integer, since date) RETURNS bigint  -- A: no since
    LANGUAGE sql STABLE
    AS 'SELECT count(*) FROM orders WHERE customer_id = customer AND placed >= since';

-- Two functions of one name, told apart by their parameters' types.
CREATE FUNCTION label(code integer) RETURNS text LANGUAGE sql IMMUTABLE AS 'SELECT ''#'' || code';
CREATE FUNCTION label(code text) RETURNS text LANGUAGE sql IMMUTABLE AS 'SELECT ''#'' || code';

CREATE FUNCTION touch_order() RETURNS trigger LANGUAGE plpgsql AS
    'BEGIN NEW.placed := coalesce(NEW.placed, current_date); RETURN NEW; END';
CREATE TRIGGER orders_touch BEFORE INSERT ON orders FOR EACH ROW EXECUTE FUNCTION touch_order();

INSERT INTO customers VALUES
    (1, 'Ada', 'ada@example.org', NULL, NULL),
    (2, 'Brian', NULL, repeat('long note ', 50) || 'Long note ' || repeat('long note ', 49), NULL),
    (3, 'Chloé', 'chloe@example.org', '', NULL);
INSERT INTO orders VALUES
    (10, 1, 150.00, '2024-01-02', 1),
    (11, 2, 20.50, '2024-02-03', 2),
    (12, 2, 99.99, '2024-02-04', NULL);
INSERT INTO "Odd ""Name""" VALUES (1, 'ä'), (2, NULL);
INSERT INTO attachments VALUES (1, decode(repeat('00ff', 300), 'hex')), (2, '\x');
INSERT INTO archive.orders VALUES (1, '2023-12-31 23:59:59.5');
