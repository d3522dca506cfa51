#!/usr/bin/env bash
# The project's test command: installs what is missing, then configures,
# builds and runs every test suite on every build:
#   linux  plain Linux build over the stand-in platform
#   asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan   the same under ThreadSanitizer
#   mingw  the Windows build (MinGW-w64), every test binary run under Wine
# Exits non-zero on the first failure. SNAPFERRY_PRESETS="linux asan" picks builds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

presets=${SNAPFERRY_PRESETS:-"linux asan tsan mingw"}
passed=0
failed=0
start=$(date +%s)
for preset in $presets; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "=== $preset: test"
  if [ "$preset" = mingw ]; then
    # shellcheck source=tools/wine-env.sh
    . tools/wine-env.sh
    wine_env_start
    trap wine_env_stop EXIT
  fi
  log=$(mktemp)
  set +e
  ctest --preset "$preset" -j "$(nproc)" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  nfail=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${nfail:-0}))
  failed=$((failed + ${nfail:-0}))
  if [ "$rc" -ne 0 ]; then
    echo "=== $preset: FAILED"
    echo "$passed passed, $((failed > 0 ? failed : 1)) failed"
    exit 1
  fi
done
echo "=== all builds green in $(( $(date +%s) - start )) s"
echo "$passed passed, $failed failed"
