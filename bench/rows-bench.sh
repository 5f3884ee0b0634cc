#!/bin/sh
# Records matched by key on a large SQLite pair, against sqldiff (which also
# matches rows by their primary key).
# Usage: bench/rows-bench.sh [BUILD_DIR]   (default: build)
#
# Two files with one table of 1,000,000 rows x 10 columns; in the second one
# row is changed, one deleted and one inserted. Prints, for one run of this
# script: the median wall time of kesmark-diff --data (records matched by key)
# and of sqldiff, taking turns, their ratio (target <= 0.7), kesmark-diff's
# peak resident
# and peak private memory (target <= 64 MiB private), the number of row nodes
# (exactly 3), and the time of --match position for comparison.
set -eu
cd "$(dirname "$0")/.."
. bench/measure.sh
build=${1:-build}
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build first (scripts/build.sh)" >&2; exit 2; }
command -v sqldiff >/dev/null || { echo "sqldiff missing: run scripts/install-deps.sh" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing: run scripts/install-deps.sh" >&2; exit 2; }
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"

# Wall time in seconds of one run, from /usr/bin/time -v (exit status 0 or 1
# is the comparison's answer, not a failure).
wall_seconds() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Elapsed \(wall clock\)/ {
    n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.3f", s }'
}

# The median of the numbers on standard input, one a line.
median_of() {
  sort -n | awk '{ t[NR] = $1 } END { printf "%.3f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

peak_resident_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}


echo "== 1,000,000 rows x 10 columns: one row changed, one deleted, one inserted"
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
sqlite3 "$work/b.db" <<'SQL'
UPDATE t SET e = 'changed' WHERE id = 500000;
DELETE FROM t WHERE id = 250000;
INSERT INTO t VALUES (1000001, 1, 2, 3.0, 4.0, 'new', 'x', 'y', 0, x'00');
SQL

ours="$diff_bin --data --settings $settings $work/a.db $work/b.db"
# shellcheck disable=SC2086
rows=$($diff_bin --json --data --settings "$settings" "$work/a.db" "$work/b.db" |
  grep -c '"key": "TableDefs\[t\]\.Rows\[' || true)
# The three commands take turns, so that a change in the machine's load
# weighs on each alike; the ratio is the median of each turn's ratio.
times="$work/times"
: > "$times"
for _ in $(seq "$runs"); do
  # shellcheck disable=SC2086
  k=$(wall_seconds $ours)
  s=$(wall_seconds sqldiff "$work/a.db" "$work/b.db")
  p=$(wall_seconds "$diff_bin" --data --match position --settings "$settings" \
    "$work/a.db" "$work/b.db")
  echo "$k $s $p" >> "$times"
done
by_key=$(awk '{ print $1 }' "$times" | median_of)
theirs=$(awk '{ print $2 }' "$times" | median_of)
by_position=$(awk '{ print $3 }' "$times" | median_of)
ratio=$(awk '{ print $1 / $2 }' "$times" | median_of)
# shellcheck disable=SC2086
resident=$(peak_resident_kib $ours)
# shellcheck disable=SC2086
private=$(peak_private_kib $ours)
echo "kesmark-diff --data (by key):      ${by_key} s (median of $runs)"
echo "sqldiff:                           ${theirs} s (median of $runs)"
echo "ratio:                             ${ratio}  (median of the turns' ratios; target <= 0.7)"
echo "peak resident:                     $((resident / 1024)) MiB  (including the mapped database files)"
echo "peak private memory:               $((private / 1024)) MiB  (target <= 64)"
echo "row nodes:                         $rows  (expected 3)"
echo "kesmark-diff --match position:     ${by_position} s (median of $runs; records paired by position)"
echo "load average while measuring:      $(cut -d' ' -f1-3 /proc/loadavg)"
