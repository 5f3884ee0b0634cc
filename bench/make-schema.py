#!/usr/bin/env python3
"""Writes a SQLite file with TABLES tables of 20 columns, each with one index.

Usage: bench/make-schema.py FILE TABLES

Table tK is "CREATE TABLE tK(id INTEGER PRIMARY KEY, c1 ... c19 TEXT NOT NULL
DEFAULT '')" with "CREATE INDEX tK_c1 ON tK(c1)", in the order K = 1, 2, ...

Creating that many tables one statement at a time takes hours: every CREATE
TABLE re-reads the whole schema table to load its new row. So the first table
and its index are created normally, and the others are added the way SQLite
would have stored them: one empty root page each, appended to the file, and
one row each in sqlite_schema. The result passes PRAGMA integrity_check.
"""

import os
import sqlite3
import struct
import sys

PAGE_SIZE = 4096
COLUMNS = ", ".join(["id INTEGER PRIMARY KEY"] +
                    ["c%d TEXT NOT NULL DEFAULT ''" % c for c in range(1, 20)])


def table_sql(k):
    return "CREATE TABLE t%d(%s)" % (k, COLUMNS)


def index_sql(k):
    return "CREATE INDEX t%d_c1 ON t%d(c1)" % (k, k)


def empty_leaf(page_type):
    # A b-tree leaf page without cells: type, no freeblock, no cells, cell
    # content area starting at the end of the page, no fragmented bytes.
    header = struct.pack(">BHHHB", page_type, 0, 0, PAGE_SIZE, 0)
    return header + bytes(PAGE_SIZE - len(header))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    path, tables = sys.argv[1], int(sys.argv[2])
    if os.path.exists(path):
        os.remove(path)

    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA page_size=%d" % PAGE_SIZE)
    db.execute("PRAGMA journal_mode=DELETE")
    db.execute(table_sql(1))
    db.execute(index_sql(1))
    db.close()

    with open(path, "r+b") as f:
        f.seek(0, os.SEEK_END)
        first_new = f.tell() // PAGE_SIZE + 1
        table_page = empty_leaf(0x0D)
        index_page = empty_leaf(0x0A)
        for _ in range(2, tables + 1):
            f.write(table_page)
            f.write(index_page)
        page_count = f.tell() // PAGE_SIZE
        f.seek(28)
        f.write(struct.pack(">I", page_count))

    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA writable_schema=ON")
    db.execute("BEGIN")
    rows = []
    for k in range(2, tables + 1):
        page = first_new + 2 * (k - 2)
        rows.append(("table", "t%d" % k, "t%d" % k, page, table_sql(k)))
        rows.append(("index", "t%d_c1" % k, "t%d" % k, page + 1, index_sql(k)))
    db.executemany("INSERT INTO sqlite_schema(type, name, tbl_name, rootpage, sql) "
                   "VALUES (?, ?, ?, ?, ?)", rows)
    db.execute("PRAGMA schema_version=%d" % (tables * 2 + 1))
    db.execute("COMMIT")
    db.close()

    db = sqlite3.connect(path)
    result = db.execute("PRAGMA quick_check").fetchone()[0]
    db.close()
    if result != "ok":
        sys.exit("make-schema: %s is not a sound database: %s" % (path, result))


if __name__ == "__main__":
    main()
