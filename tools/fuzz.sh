#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while on its seed corpus:
#   tools/fuzz.sh [seconds] [target...]     default: 30 s, every target
# Linux only. Up to $(nproc) targets run at once (SNAPFERRY_FUZZ_JOBS).
# New inputs are kept in build/fuzz/corpus/<target>, so longer runs build on
# earlier ones; a finding is written to build/fuzz/findings/ and its log
# shown. Ends with "N passed, N failed", one test per target.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_codec_value fuzz_method_codec fuzz_channels fuzz_fixture)
fi
if [ "$(uname -s)" != Linux ]; then
  echo "fuzz: the targets run on Linux only; skipped"
  exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"

build=build/fuzz
mkdir -p "$build/logs" "$build/findings"
# Per input: 2 GiB of memory in all, 512 MiB in one allocation (so a size
# read from the input that drives an allocation is a finding), 30 s.
common=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048
        -malloc_limit_mb=512 -print_final_stats=1)
extra_flags() {
  case "$1" in
    # The in-process engine keeps every response, so each input ends with more
    # allocations than frees, which would run a whole-heap leak check per
    # input; leaks are still checked when the process ends.
    fuzz_channels) echo -detect_leaks=0 ;;
  esac
}

jobs=${SNAPFERRY_FUZZ_JOBS:-$(nproc)}
declare -A pid_of
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  mkdir -p "$build/corpus/$target"
  # shellcheck disable=SC2046
  "$build/fuzz/$target" "${common[@]}" $(extra_flags "$target") \
      -artifact_prefix="$build/findings/$target-" \
      "$build/corpus/$target" "fuzz/corpus/$target" \
      >"$build/logs/$target.log" 2>&1 &
  pid_of[$target]=$!
done

passed=0
failed=0
for target in "${targets[@]}"; do
  log="$build/logs/$target.log"
  if wait "${pid_of[$target]}"; then rc=0; else rc=$?; fi
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
    echo "$target: passed, ${runs:-?} executions in $seconds s"
  else
    failed=$((failed + 1))
    echo "$target: FAILED (exit $rc) after ${runs:-?} executions; log $log:"
    grep -vE '^(#[0-9]+|	NEW_FUNC|"|###)' "$log" | tail -n 60
  fi
done
echo "$passed passed, $failed failed"
((failed == 0))
