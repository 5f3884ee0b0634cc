#!/bin/sh
# The size and time of each output of kesmark-diff on a large pair: 2,000
# tables x 20 columns with an index each, one table changed, one dropped and
# one added, schema only.
# Usage: bench/report-bench.sh [BUILD_DIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build first (scripts/build.sh)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"

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
sqlite3 "$work/s2.db" "ALTER TABLE t1999 ADD COLUMN extra INTEGER; DROP TABLE t500;
                       CREATE TABLE added(id INTEGER);"

# Wall time in seconds and peak resident memory in MiB of one run, its output
# to a file; then the file's size.
measure() {
  label=$1
  output=$2
  shift 2
  /usr/bin/time -f '%e %M' -o "$work/time" "$diff_bin" --settings "$settings" "$@" \
    "$work/s1.db" "$work/s2.db" > "$work/stdout" 2>/dev/null || [ $? -le 1 ]
  [ "$output" = "-" ] && output="$work/stdout"
  read -r seconds kib <<EOT
$(tail -1 "$work/time")
EOT
  printf '%-28s %10s bytes  %6s s  %5s MiB\n' "$label" "$(wc -c < "$output")" "$seconds" \
    "$((kib / 1024))"
}

echo "== 2,000 tables x 20 columns, 3 tables differ, schema only"
measure "text (differences only)" - 
measure "text --all" - --all
measure "--json" - --json
measure "--json --all-properties" - --json --all-properties
measure "--markdown" "$work/report.md" --markdown "$work/report.md"
measure "--html" "$work/report.html" --html "$work/report.html"
