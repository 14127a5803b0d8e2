#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (in build-fuzz/) and runs
# each for SECONDS (default 60), one after the other, starting from the seed
# corpus and the regression inputs under fuzz/. New inputs go to
# build-fuzz/corpus/TARGET; a crash, leak, timeout or out-of-memory leaves its
# reproducer in build-fuzz/findings/TARGET/ and makes the script exit non-zero.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZIPGRAFT_WERROR=ON -DZIPGRAFT_TESTS=ON -DZIPGRAFT_FUZZ=ON >/dev/null
cmake --build "$build" --target zg_fuzzers -j 2

# The targets keep their per-input files in a directory of their own under TMPDIR.
export TMPDIR=$build/tmp
failed=()
for target in archive xml pe package check; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$TMPDIR" "$(dirname "$log")"
  inputs=("$root/fuzz/corpus/$target")
  [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target")
  echo "== fuzz_$target, $seconds s =="
  # Standard output is closed: the code under test prints its error lines there.
  if "$build/fuzz/fuzz_$target" "$corpus" "${inputs[@]}" -max_total_time="$seconds" \
      -rss_limit_mb=2048 -timeout=10 -close_fd_mask=1 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1; then
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    grep -E 'stat::number_of_executed_units' "$log" || true
  else
    failed+=("$target")
    tail -n 40 "$log"
    echo "fuzz_$target FAILED: reproducer in $findings, log in $log"
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz targets with findings: ${failed[*]}"
  exit 1
fi
echo "no findings"
