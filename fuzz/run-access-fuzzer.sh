#!/bin/sh
# Builds the Access reader's fuzz target into build-fuzz/ and runs it for
# SECONDS seconds (default 60), seeded with the real and the damaged Access
# files of the shared test data. Exits non-zero when the fuzzer finds a
# crash, a sanitizer report or a hang (the input is kept in
# build-fuzz/artifacts/). Without clang++ it says so and does nothing.
# Usage: fuzz/run-access-fuzzer.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "run-access-fuzzer: clang++ not found, no fuzzing"
  exit 0
fi
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"
mkdir -p build-fuzz/corpus build-fuzz/artifacts
seeds=""
for d in ../shared/testdata/access ../shared/testdata/access-damaged; do
  if [ -d "$d" ]; then
    seeds="$seeds $d"
  fi
done
# The first folder receives new inputs; the seed folders are only read.
# shellcheck disable=SC2086
./build-fuzz/access_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ build-fuzz/corpus $seeds
