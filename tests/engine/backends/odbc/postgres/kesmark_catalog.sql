-- Keys and indexes of every kind the catalogue has to describe alike,
-- whether it is read table by table or for all tables at once.
CREATE SCHEMA other;
CREATE TABLE parent (a integer, b text, dropped integer, PRIMARY KEY (a, b));
ALTER TABLE parent DROP COLUMN dropped;
CREATE TABLE child (
    id integer PRIMARY KEY,
    pa integer,
    pb text,
    note text,
    amount numeric(10, 2),
    CONSTRAINT child_parent FOREIGN KEY (pa, pb) REFERENCES parent (a, b)
        ON DELETE CASCADE ON UPDATE SET NULL DEFERRABLE INITIALLY DEFERRED
);
CREATE TABLE child2 (
    id integer REFERENCES child (id) ON DELETE RESTRICT,
    x integer,
    y integer,
    CONSTRAINT child2_self UNIQUE (x, y),
    CONSTRAINT child2_back FOREIGN KEY (y) REFERENCES child (id) ON UPDATE SET DEFAULT
        DEFERRABLE INITIALLY IMMEDIATE
);
CREATE UNIQUE INDEX child_note_u ON child (note);
CREATE INDEX child_desc ON child (amount DESC, note);
CREATE INDEX child_expr ON child (lower(note), id);
CREATE INDEX child_partial ON child (pa) WHERE pa > 10;
CREATE INDEX child_hash ON child USING hash (note);
CREATE INDEX child_incl ON child (pb) INCLUDE (note, amount);
CLUSTER child USING child_desc;
CREATE TABLE other.child (id integer PRIMARY KEY, v text REFERENCES public.child (note));
CREATE INDEX other_v ON other.child (v DESC NULLS LAST);
CREATE TABLE nokey (v text);
