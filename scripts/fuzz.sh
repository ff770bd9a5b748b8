#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz (or $KABINEX_FUZZ_DIR) and runs each in turn on a copy of its corpus and regressions:
# the GIF reader for about a minute (or $1 seconds), the others for half that.
# Exits non-zero on any finding: crash, sanitizer report, leak, timeout or running out of memory.
# The input that caused it is left in the build directory (crash-*, leak-*, timeout-*, oom-*);
# once fixed, it goes into the target's regressions folder, which the tests load and every run
# starts from.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KABINEX_FUZZ_DIR:-build-fuzz}
seconds=${1:-60}

# target  corpus  regressions  share of the time (in halves)
targets=(
  "gif_fuzzer fuzz/corpus fuzz/regressions 2"
  "cleanup_fuzzer fuzz/cleanup/corpus fuzz/cleanup/regressions 1"
  "zipdir_fuzzer fuzz/zipdir/corpus fuzz/zipdir/regressions 1"
  "ini_fuzzer fuzz/ini/corpus fuzz/ini/regressions 1"
  "countmemo_fuzzer fuzz/countmemo/corpus fuzz/countmemo/regressions 1"
)

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKABINEX_FUZZ=ON -DKABINEX_TESTS=OFF >/dev/null

# The readers refuse inputs over their limits before allocating, so no input reaches the memory
# limit.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

for entry in "${targets[@]}"; do
  read -r target corpus_dir regressions_dir halves <<<"$entry"
  echo "== fuzzing with $target"
  cmake --build "$dir" --target "$target" -j "$(nproc)"
  corpus=$(mktemp -d)
  find "$corpus_dir" "$regressions_dir" -type f -exec cp {} "$corpus"/ \; 2>/dev/null || true
  status=0
  "$dir/$target" -max_total_time=$(( seconds * halves / 2 )) -rss_limit_mb=2048 -malloc_limit_mb=2048 \
    -timeout=10 -max_len=65536 -print_final_stats=1 -artifact_prefix="$dir/" "$corpus" || status=$?
  rm -rf "$corpus"
  [ "$status" -eq 0 ] || exit "$status"
done
