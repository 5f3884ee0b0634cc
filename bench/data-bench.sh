#!/bin/sh
# Times kesmark-diff against sqldiff on the same SQLite pairs.
# Usage: bench/data-bench.sh [BUILD_DIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
. bench/measure.sh
build=${1:-build}
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build first (scripts/build.sh)" >&2; exit 2; }
command -v sqldiff >/dev/null || { echo "sqldiff missing: run scripts/install-deps.sh" >&2; exit 2; }
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"

# Median wall time in seconds of a command run $runs times (its exit status
# 0 or 1 is the comparison's answer, not a failure).
median() {
  for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || [ $? -le 1 ]
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
  done | sort -n | awk '{ t[NR] = $1 } END { printf "%.3f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

peak_kib() {
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1
}


echo "== 1,000,000 rows x 10 columns, one value differs near the end"
sqlite3 "$work/a.db" <<'SQL'
CREATE TABLE t(id INTEGER PRIMARY KEY, a INTEGER, b INTEGER, c REAL, d REAL,
               e TEXT, f TEXT, g TEXT, h INTEGER, blob BLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)
INSERT INTO t SELECT i, i * 7, i % 1000, i * 0.5, i / 3.0, 'name-' || i,
                     printf('%08x', (i * 2654435761) % 4294967296), 'constant text value',
                     i % 2, CAST(printf('%016d', i) AS BLOB)
FROM n;
SQL
cp "$work/a.db" "$work/b.db"
sqlite3 "$work/b.db" "UPDATE t SET e = 'changed' WHERE id = 999990;"

ours=$(median "$diff_bin" --data --settings "$settings" "$work/a.db" "$work/b.db")
theirs=$(median sqldiff "$work/a.db" "$work/b.db")
memory=$(peak_kib "$diff_bin" --data --settings "$settings" "$work/a.db" "$work/b.db")
private=$(peak_private_kib "$diff_bin" --data --settings "$settings" "$work/a.db" "$work/b.db")
echo "kesmark-diff --data: ${ours} s (median of $runs)"
echo "sqldiff:             ${theirs} s (median of $runs)"
echo "ratio:               $(echo "$ours / $theirs" | bc -l | cut -c1-5)  (target <= 0.7)"
echo "peak resident:       $((memory / 1024)) MiB  (including the mapped database files)"
echo "peak private memory: $((private / 1024)) MiB  (target <= 64)"

echo "== 2,000 tables x 20 columns, schema only"
{
  echo "BEGIN;"
  i=1
  while [ $i -le 2000 ]; do
    cols="id INTEGER PRIMARY KEY"
    c=1
    while [ $c -le 19 ]; do
      cols="$cols, c$c TEXT NOT NULL DEFAULT ''"
      c=$((c + 1))
    done
    echo "CREATE TABLE t$i($cols);"
    echo "CREATE INDEX t${i}_c1 ON t$i(c1);"
    i=$((i + 1))
  done
  echo "COMMIT;"
} > "$work/schema.sql"
sqlite3 "$work/s1.db" < "$work/schema.sql"
sqlite3 "$work/s2.db" < "$work/schema.sql"
sqlite3 "$work/s2.db" "ALTER TABLE t1999 ADD COLUMN extra INTEGER;"
ours=$(median "$diff_bin" --settings "$settings" "$work/s1.db" "$work/s2.db")
theirs=$(median sqldiff --schema "$work/s1.db" "$work/s2.db")
echo "kesmark-diff:        ${ours} s (median of $runs)  (target <= 1 s)"
echo "sqldiff --schema:    ${theirs} s (median of $runs)"
echo "ratio:               $(echo "$ours / $theirs" | bc -l | cut -c1-5)"
