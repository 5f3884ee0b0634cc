#!/bin/sh
# Wall time and peak memory of kesmark-diff on large SQLite schemas, schema
# only: pairs of 2,000, 8,000 and 40,000 tables x 20 columns (each table with
# one index besides its primary key) that differ in one column of one table.
# Usage: bench/schema-bench.sh [BUILD_DIR] [TABLE_COUNT...]
#        (default: build-release, then 2000 8000 40000)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
[ $# -gt 0 ] && shift
sizes=${*:-2000 8000 40000}
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build it first (Release)" >&2; exit 2; }
for tool in sqlite3 python3; do
  command -v $tool >/dev/null || { echo "$tool missing: run scripts/install-deps.sh" >&2; exit 2; }
done
. bench/measure.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"

for n in $sizes; do
  python3 bench/make-schema.py "$work/s1.db" "$n"
  cp "$work/s1.db" "$work/s2.db"
  sqlite3 "$work/s2.db" "ALTER TABLE t$((n - 1)) ADD COLUMN extra INTEGER;"
  echo "== $n tables x 20 columns, schema only, one column differs"
  measure "$diff_bin" --settings "$settings" "$work/s1.db" "$work/s2.db"
  rm -f "$work/s1.db" "$work/s2.db"
done
