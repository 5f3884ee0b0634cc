#!/bin/sh
# Sync scripts on a large SQLite pair: time and memory of writing the script,
# against sqldiff (which also writes SQL that turns one file into the other),
# and whether memory stays flat as the table grows.
# Usage: bench/sync-bench.sh [BUILD_DIR]   (default: build)
#
# For ROWS (1,000,000) and for ROWS / 10 rows x 10 columns: the second file has
# every 10th row changed, every 1000th deleted and 1000 rows more (too many for
# the comparison to list them all, so the script reads both tables again);
# then ROWS rows with one row changed, one deleted and one inserted (the
# comparison lists them, and the script reads those three rows by key).
# Prints per pair the median wall time of kesmark-diff --data --sync-sql, of
# kesmark-diff --data alone and of sqldiff, the peak private memory of the
# script's run, the script's size and statements, the time sqlite3 takes to
# run it, and whether kesmark-diff then finds the two files the same.
set -eu
cd "$(dirname "$0")/.."
. bench/measure.sh
build=${1:-build}
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build first (scripts/build.sh)" >&2; exit 2; }
command -v sqldiff >/dev/null || { echo "sqldiff missing: run scripts/install-deps.sh" >&2; exit 2; }
command -v sqlite3 >/dev/null || { echo "sqlite3 missing: run scripts/install-deps.sh" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing: run scripts/install-deps.sh" >&2; exit 2; }
runs=${RUNS:-3}
rows=${ROWS:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"
# The page counts of a file follow from how it was written, not from what it
# holds; a synced copy is compared without them.
sed -i 's/^Skip7=UserName$/Skip7=UserName\nSkip8=PageCount\nSkip9=FreelistCount/; s/^NumSkip=7$/NumSkip=9/' "$settings"

wall_seconds() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Elapsed \(wall clock\)/ {
    n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.3f", s }'
}

median() {
  for _ in $(seq "$runs"); do
    wall_seconds "$@"
    echo
  done | sort -n | awk '{ t[NR] = $1 } END { printf "%.3f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}


make_pair() {
  n=$1
  few=${2:-}
  a="$work/a-$n.db"
  b="$work/b-$n.db"
  rm -f "$a" "$b"
  sqlite3 "$a" >/dev/null <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE t(id INTEGER PRIMARY KEY, c1 INTEGER, c2 TEXT, c3 REAL, c4 TEXT, c5 INTEGER,
               c6 BLOB, c7 TEXT, c8 REAL, c9 TEXT);
WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < $n)
INSERT INTO t SELECT i, i * 7, 'text ' || i, i / 3.0, 'value ' || (i % 97), i % 1000,
                     randomblob(8), 'x' || i, i * 0.25, 'end ' || i FROM s;
SQL
  cp "$a" "$b"
  if [ -n "$few" ]; then
    sqlite3 "$b" "UPDATE t SET c2 = 'changed' WHERE id = $n / 2; DELETE FROM t WHERE id = 7;
                  INSERT INTO t (id, c2) VALUES ($n + 1, 'new');"
    return
  fi
  sqlite3 "$b" <<SQL
UPDATE t SET c2 = 'changed ' || id, c8 = -c8 WHERE id % 10 = 0;
DELETE FROM t WHERE id % 1000 = 7;
WITH RECURSIVE s(i) AS (SELECT $n + 1 UNION ALL SELECT i + 1 FROM s WHERE i < $n + 1000)
INSERT INTO t SELECT i, i, 'new', 0.5, NULL, 0, NULL, NULL, NULL, NULL FROM s;
SQL
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for pair in "$((rows / 10))" "$rows" "$rows few"; do
  set -- $pair
  n=$1
  make_pair "$n" "${2:-}"
  a="$work/a-$n.db"
  b="$work/b-$n.db"
  script="$work/sync-$n.sql"
  if [ -n "${2:-}" ]; then
    echo "== $n rows x 10 columns: one row changed, one deleted, one inserted"
  else
    echo "== $n rows x 10 columns: every 10th row changed, every 1000th deleted, 1000 more"
  fi
  t_sync=$(median "$diff_bin" --quiet --data --settings "$settings" --sync-sql "$script" "$a" "$b")
  t_diff=$(median "$diff_bin" --quiet --data --settings "$settings" "$a" "$b")
  t_sqldiff=$(median sh -c "sqldiff '$b' '$a' > '$work/sqldiff.sql'")
  private=$(peak_private_kib "$diff_bin" --quiet --data --settings "$settings" --sync-sql "$script" "$a" "$b")
  statements=$(grep -c ';$' "$script" || true)
  size=$(stat -c %s "$script")
  cp "$b" "$work/synced.db"
  t_apply=$(wall_seconds sh -c "sqlite3 -bail '$work/synced.db' < '$script'")
  status=0
  "$diff_bin" --quiet --data --settings "$settings" "$a" "$work/synced.db" >/dev/null || status=$?
  echo "kesmark-diff --data --sync-sql: ${t_sync} s (median of $runs)"
  echo "kesmark-diff --data alone:      ${t_diff} s"
  echo "sqldiff (its own SQL):          ${t_sqldiff} s"
  echo "peak private memory of the script's run: $((private / 1024)) MiB"
  echo "script: $statements statements, $((size / 1024)) KiB; sqlite3 runs it in ${t_apply} s"
  echo "after the script, kesmark-diff --data: exit $status (0: the same)"
done
