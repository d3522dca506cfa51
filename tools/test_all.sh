#!/usr/bin/env bash
# The project's test command: installs what is missing, then configures,
# builds and runs every test suite on every build:
#   linux  plain Linux build over the stand-in platform
#   asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan   the same under ThreadSanitizer
#   mingw  the Windows build (MinGW-w64), every test binary run under Wine
#   release  the Windows release zip (the release preset's package target),
#          checked to hold the four files under the project's version; one test
#   fuzz   every fuzz target for SNAPFERRY_FUZZ_SECONDS (30) on its corpus
#          (tools/fuzz.sh; Linux only), each target counted as one test
# Exits non-zero on the first failure. SNAPFERRY_PRESETS="linux asan" picks builds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

presets=${SNAPFERRY_PRESETS:-"linux asan tsan mingw release fuzz"}
passed=0
failed=0
start=$(date +%s)
# Adds the "N passed, N failed" of a log to the totals; with a non-zero
# exit code, stops with the totals so far.
count_and_stop_on_failure() {
  local preset=$1 rc=$2 npass=$3 nfail=$4
  passed=$((passed + ${npass:-0}))
  failed=$((failed + ${nfail:-0}))
  if [ "$rc" -ne 0 ]; then
    echo "=== $preset: FAILED"
    echo "$passed passed, $((failed > 0 ? failed : 1)) failed"
    exit 1
  fi
}
# Builds the release zip afresh and checks its name and that it holds
# exactly the program, README.txt (which names the version), LICENSE and
# THIRD-PARTY-NOTICES.txt.
check_release_package() {
  local version zip names readme
  version=$(sed -n 's/^project(snapferry VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  zip=build/release/snapferry-import-$version-win64.zip
  rm -f build/release/snapferry-import-*.zip
  cmake --preset release >/dev/null &&
    cmake --build --preset release -j "$(nproc)" --target package || return 1
  if [ ! -f "$zip" ]; then
    echo "release: no $zip"; ls build/release/*.zip 2>/dev/null; return 1
  fi
  unzip -l "$zip"
  names=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
  if [ "$names" != "LICENSE README.txt THIRD-PARTY-NOTICES.txt snapferry-import.exe " ]; then
    echo "release: $zip holds: $names"; return 1
  fi
  readme=$(unzip -p "$zip" README.txt)
  if ! grep -q "^Version $version " <<<"$readme"; then
    echo "release: README.txt does not name version $version"; return 1
  fi
  if [ "$(unzip -p "$zip" snapferry-import.exe | head -c 2 || true)" != MZ ]; then
    echo "release: snapferry-import.exe is not a Windows executable"; return 1
  fi
}

for preset in $presets; do
  if [ "$preset" = release ]; then
    echo "=== release: build the package and check the zip"
    rc=0
    check_release_package || rc=$?
    count_and_stop_on_failure release "$rc" "$((rc == 0))" "$((rc != 0))"
    continue
  fi
  if [ "$preset" = fuzz ]; then
    echo "=== fuzz: build, then every target for ${SNAPFERRY_FUZZ_SECONDS:-30} s"
    log=$(mktemp)
    set +e
    tools/fuzz.sh "${SNAPFERRY_FUZZ_SECONDS:-30}" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    set -e
    summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || true)
    rm -f "$log"
    count_and_stop_on_failure fuzz "$rc" "$(cut -d' ' -f1 <<<"$summary")" \
        "$(cut -d' ' -f3 <<<"$summary")"
    continue
  fi
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
  count_and_stop_on_failure "$preset" "$rc" "$((${total:-0} - ${nfail:-0}))" \
      "${nfail:-0}"
done
echo "=== all builds green in $(( $(date +%s) - start )) s"
echo "$passed passed, $failed failed"
