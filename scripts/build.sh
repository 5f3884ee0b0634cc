#!/bin/sh
# Installs the packages Kesmark needs and builds it into build/.
# Usage: scripts/build.sh [extra cmake arguments]
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja "$@" >/dev/null
cmake --build build --parallel "$(nproc)"
