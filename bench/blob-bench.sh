#!/bin/sh
# Wall time and peak memory of kesmark-diff on a SQLite pair holding one
# long value that differs in its last byte: --data, and --show of that
# record. Usage: bench/blob-bench.sh [BUILD_DIR] [MEBIBYTES]
#        (default: build-release, 200)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
size=$(( ${2:-200} * 1024 * 1024 ))
diff_bin="$build/bin/kesmark-diff"
[ -x "$diff_bin" ] || { echo "no $diff_bin: build it first (Release)" >&2; exit 2; }
command -v sqlite3 >/dev/null || { echo "sqlite3 missing: run scripts/install-deps.sh" >&2; exit 2; }
. bench/measure.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings="$work/Kesmark.ini"
cp settings/Kesmark.default.ini "$settings"

sqlite3 "$work/a.db" "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB);
                      INSERT INTO t VALUES (1, zeroblob($size));"
sqlite3 "$work/b.db" "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB);
                      INSERT INTO t VALUES (1, CAST(zeroblob($size - 1) || x'01' AS BLOB));"

echo "== one blob of $((size / 1024 / 1024)) MiB that differs in its last byte, --data"
measure "$diff_bin" --data --settings "$settings" "$work/a.db" "$work/b.db"
echo "== the same record listed: --show 'TableDefs[t].Fields[b].Records[1]'"
measure "$diff_bin" --show 'TableDefs[t].Fields[b].Records[1]' --settings "$settings" \
  "$work/a.db" "$work/b.db"
