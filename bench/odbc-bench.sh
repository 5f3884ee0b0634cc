#!/bin/sh
# Times kesmark-diff --data on a PostgreSQL pair read through the PostgreSQL
# ODBC driver, against psql copying the same rows out, and measures the peak
# memory of reading one value of hundreds of megabytes in chunks.
#
# Usage: bench/odbc-bench.sh [BUILD_DIR]   (default: build)
# Environment: ROWS (default 2000000), RUNS (default 3), LONG_MIB (size of
# the long values, default 200; 0 leaves that part out), EXTRA (appended to
# both connect strings, such as "UseDeclareFetch=0;").
#
# A throwaway server is started on 127.0.0.1 (initdb into a temporary folder,
# pg_ctl, through scripts/test-postgres.sh) and stopped at the end.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
diff_bin="$build/bin/kesmark-diff"
reader_bin="$build/bin/long_value_reader"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build first (scripts/build.sh)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time missing: run scripts/install-deps.sh" >&2; exit 2; }
rows=${ROWS:-2000000}
runs=${RUNS:-3}
long_mib=${LONG_MIB:-200}
extra=${EXTRA:-}

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

# The pair: one table of $rows rows x 10 columns; side b differs in one
# value near the end. Side a also holds the long values.
cat > "$work/kesmark_bench_a.sql" <<SQL
CREATE TABLE t (id integer PRIMARY KEY, a integer, b bigint, c double precision,
                d numeric(12, 2), e text, f varchar(40), g date, h timestamp, i boolean);
INSERT INTO t SELECT n, n * 7, n::bigint * 1000003, n * 0.5, (n % 100000) / 100.0,
                     'name-' || n, md5(n::text), DATE '2000-01-01' + n % 9000,
                     TIMESTAMP '2020-01-01' + n * INTERVAL '1 second', n % 2 = 0
FROM generate_series(1, $rows) AS n;
CREATE TABLE long_values (id integer PRIMARY KEY, body text, data bytea);
INSERT INTO long_values
  SELECT 1, repeat('0123456789abcdef', $long_mib * 65536),
         decode(repeat('00ff', $long_mib * 524288), 'hex')
  WHERE $long_mib > 0;
SQL
sed -e '/long_values/,$d' "$work/kesmark_bench_a.sql" > "$work/kesmark_bench_b.sql"
echo "UPDATE t SET e = 'changed' WHERE id = $rows - 10;" >> "$work/kesmark_bench_b.sql"

echo "== building the pair ($rows rows x 10 columns) on a throwaway server"
"$root/scripts/test-postgres.sh" start "$state" "$work/kesmark_bench_a.sql" \
  "$work/kesmark_bench_b.sql" >/dev/null
value_of() { sed -n "s/^$1=//p" "$state/postgres.env" | head -n 1; }
[ "$(value_of status)" = running ] || { echo "no server: $(value_of reason)" >&2; exit 2; }
host=$(value_of host)
port=$(value_of port)
user=$(value_of user)
password=$(value_of password)
bindir=$(value_of bindir)
export PGPASSWORD="$password"

# The driver, registered in a private odbcinst.ini.
mkdir -p "$work/odbc"
printf '[Bench PostgreSQL]\nDriver=%s\n' "$driver" > "$work/odbc/odbcinst.ini"
: > "$work/odbc/odbc.ini"
export ODBCSYSINI="$work/odbc" ODBCINSTINI=odbcinst.ini ODBCINI="$work/odbc/odbc.ini"
connect() {
  echo "ODBC;Driver=Bench PostgreSQL;Server=$host;Port=$port;Database=$1;UID=$user;PWD=$password;$extra"
}
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"
# The same with every row read instead of checksums of key ranges.
every_row="$work/Kesmark-every-row.ini"
sed 's/^Checksums=.*/Checksums=Off/' settings/Kesmark.default.ini > "$every_row"

# Median wall time in seconds of a command run $runs times (exit status 0
# or 1 is the comparison's answer, not a failure).
median() {
  for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || [ $? -le 1 ]
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
  done | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# Peak resident memory in KiB (/usr/bin/time -v).
peak_kib() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}

copy_both() {
  for db in kesmark_bench_a kesmark_bench_b; do
    "$bindir/psql" -X -q -h "$host" -p "$port" -U "$user" -d "$db" \
      -c "\\copy (SELECT * FROM t) TO '/dev/null'"
  done
}

diff_pair() {
  "$diff_bin" --data --settings "$1" "$(connect kesmark_bench_a)" "$(connect kesmark_bench_b)"
}

printf '%s\n' "== kesmark-diff --data against psql \\copy of both tables${extra:+ (connect strings end in $extra)}"
copy=$(median copy_both)
printf '%s\n' "psql \\copy a, then b:  ${copy} s (median of $runs)"
for run in "default settings (checksums of key ranges):$settings" \
           "Checksums=Off (every row read):$every_row"; do
  echo "-- kesmark-diff --data, ${run%%:*}"
  ours=$(median diff_pair "${run#*:}")
  memory=$(peak_kib "$diff_bin" --data --settings "${run#*:}" "$(connect kesmark_bench_a)" \
    "$(connect kesmark_bench_b)")
  echo "kesmark-diff --data:   ${ours} s (median of $runs)"
  echo "ratio:                 $(echo "$ours / $copy" | bc -l | cut -c1-4)  (target <= 1.2)"
  echo "peak resident:         $((memory / 1024)) MiB  (target <= 64)"
done

if [ "$long_mib" -gt 0 ]; then
  if [ ! -x "$reader_bin" ]; then
    echo "no $reader_bin: build the target long_value_reader for the long values" >&2
    exit 2
  fi
  echo "== one $long_mib MiB value read in 64 KiB chunks (FieldSize, then GetChunk)"
  for field in body data; do
    line=$("$reader_bin" "" "$(connect kesmark_bench_a)" long_values "$field" | head -n 1)
    memory=$(peak_kib "$reader_bin" "" "$(connect kesmark_bench_a)" long_values "$field")
    echo "$field: $line"
    echo "$field: peak resident $((memory / 1024)) MiB"
  done
fi
