#!/bin/sh
# Compares a PostgreSQL pair by checksums of key ranges against reading every
# row: wall time, bytes the servers send to kesmark-diff and peak memory.
#
# Usage: bench/checksum-bench.sh [ROWS] [BUILD_DIR]
#   ROWS       rows of the table on each side (default 10000000; loading
#              takes a while, so try 1000000 first)
#   BUILD_DIR  default: build
# Environment: RUNS (runs per median, default 3).
#
# A throwaway server is started on 127.0.0.1 (initdb into a temporary folder,
# pg_ctl, through scripts/test-postgres.sh) and stopped at the end. The two
# databases hold one table of ROWS rows x 10 columns that differ in one row.
# Bytes moved are what kesmark-diff receives on its sockets (recvfrom, as
# strace counts it, in a run of its own so that the tracing does not slow
# the timed runs); peak memory is /usr/bin/time's maximum resident set.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
rows=${1:-10000000}
build=${2:-build}
runs=${RUNS:-3}
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build first (scripts/build.sh)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing: run scripts/install-deps.sh" >&2; exit 2; }
command -v strace >/dev/null || { echo "strace missing: run scripts/install-deps.sh" >&2; exit 2; }
driver=$(find /usr/lib /usr/local/lib -name psqlodbcw.so 2>/dev/null | head -n 1)
[ -n "$driver" ] || { echo "psqlodbcw.so missing: run scripts/install-deps.sh" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"
state="$work/pg"
cleanup() {
  "$root/scripts/test-postgres.sh" stop "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# One table of $rows rows x 10 columns; side b differs in one value in the
# middle of the key order.
cat > "$work/kesmark_sums_a.sql" <<SQL
CREATE TABLE t (id integer PRIMARY KEY, a integer, b bigint, c double precision,
                d numeric(12, 2), e text, f varchar(40), g date, h timestamp, i boolean);
INSERT INTO t SELECT n, n * 7, n::bigint * 1000003, n * 0.5, (n % 100000) / 100.0,
                     'name-' || n, md5(n::text), DATE '2000-01-01' + n % 9000,
                     TIMESTAMP '2020-01-01' + n * INTERVAL '1 second', n % 2 = 0
FROM generate_series(1, $rows) AS n;
ANALYZE t;
SQL
sed -e '/^ANALYZE/d' "$work/kesmark_sums_a.sql" > "$work/kesmark_sums_b.sql"
echo "UPDATE t SET e = 'changed' WHERE id = $rows / 2;" >> "$work/kesmark_sums_b.sql"
echo "ANALYZE t;" >> "$work/kesmark_sums_b.sql"

echo "== building the pair ($rows rows x 10 columns, one row differs) on a throwaway server"
load_start=$(date +%s)
"$root/scripts/test-postgres.sh" start "$state" "$work/kesmark_sums_a.sql" \
  "$work/kesmark_sums_b.sql" >/dev/null
value_of() { sed -n "s/^$1=//p" "$state/postgres.env" | head -n 1; }
[ "$(value_of status)" = running ] || { echo "no server: $(value_of reason)" >&2; exit 2; }
echo "loaded in $(( $(date +%s) - load_start )) s"
host=$(value_of host)
port=$(value_of port)
user=$(value_of user)
password=$(value_of password)

mkdir -p "$work/odbc"
printf '[Bench PostgreSQL]\nDriver=%s\n' "$driver" > "$work/odbc/odbcinst.ini"
: > "$work/odbc/odbc.ini"
export ODBCSYSINI="$work/odbc" ODBCINSTINI=odbcinst.ini ODBCINI="$work/odbc/odbc.ini"
connect() {
  echo "ODBC;Driver=Bench PostgreSQL;Server=$host;Port=$port;Database=$1;UID=$user;PWD=$password;"
}
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"
db1=$(connect kesmark_sums_a)
db2=$(connect kesmark_sums_b)

# kesmark-diff on the pair with --checksums $1 (exit status 1: they differ).
compare() {
  "$diff_bin" --data --quiet --checksums "$1" --settings "$settings" "$db1" "$db2" || [ $? -le 1 ]
}

# Median wall time in seconds of `compare $1`, $runs runs.
median() {
  for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    compare "$1" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
  done | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# Peak resident memory in KiB.
peak_kib() {
  /usr/bin/time -v "$diff_bin" --data --quiet --checksums "$1" --settings "$settings" \
    "$db1" "$db2" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}

# Bytes kesmark-diff receives from its sockets.
bytes_in() {
  strace -f -qq -e trace=recvfrom,recvmsg -o "$work/trace" "$diff_bin" --data --quiet \
    --checksums "$1" --settings "$settings" "$db1" "$db2" >/dev/null 2>&1 || true
  awk '/= [0-9]+$/ { sum += $NF } END { printf "%.0f", sum }' "$work/trace"
}

# The two ways must find the same differences.
compare off > "$work/rows.txt" 2>&1
compare auto > "$work/sums.txt" 2>&1
if ! cmp -s "$work/rows.txt" "$work/sums.txt"; then
  echo "the two ways disagree:" >&2
  diff "$work/rows.txt" "$work/sums.txt" >&2 || true
  exit 1
fi
echo "both ways give the same result ($(grep -c . "$work/sums.txt") lines)"

echo "== rows read (--checksums off) against checksums of key ranges (--checksums auto)"
time_rows=$(median off)
time_sums=$(median auto)
bytes_rows=$(bytes_in off)
bytes_sums=$(bytes_in auto)
peak_rows=$(peak_kib off)
peak_sums=$(peak_kib auto)
echo "wall time, rows read:      ${time_rows} s (median of $runs)"
echo "wall time, checksums:      ${time_sums} s (median of $runs)"
echo "time ratio:                $(echo "$time_sums / $time_rows" | bc -l | cut -c1-5)  (target <= 0.5)"
echo "bytes received, rows read: $bytes_rows"
echo "bytes received, checksums: $bytes_sums"
echo "bytes ratio:               $(echo "100 * $bytes_sums / $bytes_rows" | bc -l | cut -c1-6) %  (target <= 1 %)"
echo "peak resident, rows read:  $((peak_rows / 1024)) MiB"
echo "peak resident, checksums:  $((peak_sums / 1024)) MiB  (target <= 64)"
