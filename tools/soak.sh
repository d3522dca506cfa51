#!/usr/bin/env bash
# The soak, long: rounds of imports over a phone whose device calls fail at
# random (1 %), with a few stopped mid-copy, into one folder; then rounds
# without faults finish the roll. Prints per round what was imported, the
# faults injected, the cancels, resident memory and thread count.
#   tools/soak.sh [objects] [rounds] [seed]     defaults: 5000, 6, from the clock
# Further arguments go to the test: --gtest_filter='*InProcess' runs only the
# rounds in process, '*SnapferryImport' only the child processes.
# SNAPFERRY_SOAK_PRESET picks the build (linux; asan and tsan work too).
set -euo pipefail
cd "$(dirname "$0")/.."
objects=${1:-5000}
rounds=${2:-6}
seed=${3:-$(date +%s)}
preset=${SNAPFERRY_SOAK_PRESET:-linux}
tools/install-deps.sh linux
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target importer_soak_tests
echo "soak: $objects objects, $rounds rounds, seed $seed (tools/soak.sh $objects $rounds $seed repeats it)"
SNAPFERRY_SOAK_OBJECTS=$objects SNAPFERRY_SOAK_ROUNDS=$rounds \
  SNAPFERRY_SOAK_SEED=$seed \
  "build/$preset/tests/importer/importer_soak_tests" "${@:4}"
