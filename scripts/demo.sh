#!/bin/sh
# Builds Kesmark, creates the two example shop databases (release 1 and 2) in
# demo/ and compares them with kesmark-diff. The databases differ, so
# kesmark-diff ends with exit status 1: this script passes that status on.
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
echo "exit status $status (0 same, 1 differences, 2 stopped)"
exit "$status"
