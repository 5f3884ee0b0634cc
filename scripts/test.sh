#!/bin/sh
# Installs the packages Kesmark needs, builds everything the tests need,
# checks the formatting and runs every test through ctest.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/format.sh --check
./scripts/build.sh -DKESMARK_BUILD_TESTS=ON -DKESMARK_BUILD_GUI=ON
cd build
ctest --output-on-failure --parallel "$(nproc)"
cd ..
# A one-minute run of the Access reader's fuzz target (clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer).
if command -v clang++ >/dev/null 2>&1; then
  ./fuzz/run-access-fuzzer.sh 60
fi
