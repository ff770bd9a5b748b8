#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite: the unit, widget and
# end-to-end tests, the same tests (end-to-end aside) under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short fuzzing run of every fuzz target.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test"
bash scripts/build.sh build -DKABINEX_TESTS=ON
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizers (AddressSanitizer, UndefinedBehaviorSanitizer)"
bash scripts/build.sh build-asan -DKABINEX_TESTS=ON -DKABINEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -E '^e2e\.'

echo "== fuzzing: the GIF reader, the settings layer, the clean-up records, the ZIP directory, the entry counts"
bash scripts/fuzz.sh
