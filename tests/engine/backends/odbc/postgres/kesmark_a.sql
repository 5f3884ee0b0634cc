-- Release A of the PostgreSQL test pair. kesmark_b.sql is release B, which
-- differs from it in the places marked "B:" below; kesmark_same.sql builds A
-- again in a database of its own.
CREATE TABLE customers (
    id integer PRIMARY KEY,
    name varchar(60) NOT NULL,
    email varchar(120),
    note text
    -- B: an extra column phone
);
COMMENT ON COLUMN customers.email IS 'where the invoices go';

CREATE TABLE orders (
    id integer PRIMARY KEY,
    customer_id integer NOT NULL,
    total numeric(10, 2) DEFAULT 0,     -- B: another default
    placed date NOT NULL,
    quantity integer,                   -- B: another type
    CONSTRAINT orders_customer FOREIGN KEY (customer_id) REFERENCES customers (id)
        ON DELETE CASCADE               -- B: cascades updates instead
);
CREATE INDEX orders_placed ON orders (placed DESC);  -- B: absent
CREATE UNIQUE INDEX orders_customer_placed ON orders (customer_id, placed);

-- Quotes, spaces and letters beyond ASCII in names.
CREATE TABLE "Odd ""Name""" (
    "Key Column" integer PRIMARY KEY,
    "ünïcode" text
);

CREATE TABLE attachments (
    id integer PRIMARY KEY,
    body bytea
);

-- The same table name in a second schema.
CREATE SCHEMA archive;
CREATE TABLE archive.orders (
    id integer PRIMARY KEY,
    closed timestamp
);

CREATE VIEW big_orders AS
    SELECT id, customer_id, total FROM orders WHERE total > 100;  -- B: > 500

CREATE FUNCTION order_count(customer integer) RETURNS bigint    -- B: a second parameter
    LANGUAGE sql STABLE
    AS 'SELECT count(*) FROM orders WHERE customer_id = customer';

-- Two functions of one name, told apart by their parameters' types.
CREATE FUNCTION label(code integer) RETURNS text LANGUAGE sql IMMUTABLE AS 'SELECT ''#'' || code';
CREATE FUNCTION label(code text) RETURNS text LANGUAGE sql IMMUTABLE AS 'SELECT ''#'' || code';

CREATE FUNCTION touch_order() RETURNS trigger LANGUAGE plpgsql AS
    'BEGIN NEW.placed := coalesce(NEW.placed, current_date); RETURN NEW; END';
CREATE TRIGGER orders_touch BEFORE INSERT ON orders FOR EACH ROW EXECUTE FUNCTION touch_order();

INSERT INTO customers VALUES
    (1, 'Ada', 'ada@example.org', NULL),
    (2, 'Brian', NULL, repeat('long note ', 100)),  -- B: one letter in the middle
    (3, 'Chloé', 'chloe@example.org', '');
INSERT INTO orders VALUES
    (10, 1, 150.00, '2024-01-02', 1),
    (11, 2, 20.50, '2024-02-03', 2),
    (12, 2, 99.99, '2024-02-04', NULL);
INSERT INTO "Odd ""Name""" VALUES (1, 'ä'), (2, NULL);
INSERT INTO attachments VALUES (1, decode(repeat('00ff', 300), 'hex')), (2, '\x');
INSERT INTO archive.orders VALUES (1, '2023-12-31 23:59:59.5');
