#!/bin/sh
# Builds Kesmark, creates the two example shop databases (release 1 and 2) in
# demo/ and compares them with kesmark-diff. The script ends with status 0
# when the comparison ran, whatever it found, and says what kesmark-diff's
# own status means (0 same, 1 differences, 2 stopped); it ends with another
# status only when something failed.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh -DKESMARK_BUILD_TESTS=OFF
mkdir -p demo
rm -f demo/shop-v1.db demo/shop-v2.db
sqlite3 demo/shop-v1.db < scripts/demo/shop-v1.sql
sqlite3 demo/shop-v2.db < scripts/demo/shop-v2.sql
echo "kesmark-diff --data demo/shop-v1.db demo/shop-v2.db"
status=0
build/bin/kesmark-diff --data demo/shop-v1.db demo/shop-v2.db || status=$?
case "$status" in
  0) echo "kesmark-diff's status 0: the two releases do not differ." ;;
  1) echo "kesmark-diff's status 1: the two releases differ, as the demo expects." \
       "(0: no difference, 1: differences, 2: stopped.)" ;;
  *) echo "kesmark-diff's status $status: the comparison stopped before its end." >&2
     exit "$status" ;;
esac
