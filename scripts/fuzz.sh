#!/usr/bin/env bash
# Builds the GIF fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz (or $KABINEX_FUZZ_DIR) and runs it for about a minute (or $1 seconds) on a copy of
# fuzz/corpus and fuzz/regressions.
# Exits non-zero on any finding: crash, sanitizer report, leak, timeout or running out of memory.
# The input that caused it is left in the build directory (crash-*, leak-*, timeout-*, oom-*);
# once fixed, it goes into fuzz/regressions, which the GIF tests load and every run starts from.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KABINEX_FUZZ_DIR:-build-fuzz}
seconds=${1:-60}

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKABINEX_FUZZ=ON -DKABINEX_TESTS=OFF >/dev/null
cmake --build "$dir" --target gif_fuzzer -j "$(nproc)"

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
find fuzz/corpus fuzz/regressions -type f -exec cp {} "$corpus"/ \; 2>/dev/null || true

# The reader refuses images over its pixel limits before allocating, so no input reaches the
# memory limit.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$dir"/gif_fuzzer -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=10 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$dir/" "$corpus"
