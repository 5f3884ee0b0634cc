#!/bin/sh
# Builds Kesmark with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs the tests there (the desktop program's window
# tests included). Slower than scripts/test.sh; run it by hand before a
# release or after touching memory-handling code.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-sanitize -G Ninja -DKESMARK_SANITIZE=ON -DKESMARK_BUILD_TESTS=ON >/dev/null
cmake --build build-sanitize --parallel "$(nproc)"
cd build-sanitize
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure --parallel "$(nproc)"
