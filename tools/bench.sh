#!/usr/bin/env bash
# Builds the optimised benchmark build and runs the benchmarks.
#   tools/bench.sh            every benchmark
#   tools/bench.sh codec      the ones whose executable name contains "codec"
#   tools/bench.sh wpd --no-link   what follows the name goes to the benchmark
#                             (wpd: --no-link leaves out the minutes on the
#                             usb2 link, --link-only runs only those)
#   tools/bench.sh import usbc     a whole import of a generated 1.7 GB roll
#                             through the importer, per link profile, session
#                             open time and copies in flight (a name part
#                             picks configurations)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)"
filter=${1:-}
[ $# -gt 0 ] && shift
found=0
for exe in build/bench/bench/*/*_bench; do
  [ -x "$exe" ] || continue
  case "$(basename "$exe")" in *"$filter"*) ;; *) continue ;; esac
  found=1
  echo "=== $(basename "$exe")"
  "$exe" "$@"
done
[ "$found" = 1 ] || { echo "no benchmark matches '${filter}'"; exit 1; }
