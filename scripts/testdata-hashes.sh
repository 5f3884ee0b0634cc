#!/bin/sh
# Records (record FILE) or checks (check FILE) the SHA-256 of every file of the
# shared test data, so that the suite proves it left every compared file as it
# found it. Without the shared folder there is nothing to check.
set -eu
mode=$1
list=$2
shared="$(cd "$(dirname "$0")/.." && pwd)/../shared/testdata"
if [ ! -d "$shared" ]; then
  echo "no shared test data at $shared: nothing to check"
  exit 0
fi
case "$mode" in
  record) find "$shared" -type f -print0 | sort -z | xargs -0 sha256sum > "$list" ;;
  check) sha256sum --quiet -c "$list" ;;
  *) echo "usage: $0 record|check FILE" >&2; exit 2 ;;
esac
