#!/bin/sh
# Installs the packages Kesmark needs, builds everything the tests need,
# checks the formatting and runs every test through ctest.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/format.sh --check
./scripts/build.sh -DKESMARK_BUILD_TESTS=ON
cd build
ctest --output-on-failure --parallel "$(nproc)"
