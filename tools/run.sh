#!/usr/bin/env bash
# The main job, for trying the program out: builds it (linux preset) and
# starts it with the in-process engine's import interface, which imports every
# photo and video from the first Apple device into a folder:
#
#   tools/run.sh [folder]
#
# Without a folder the import goes to ~/snapferry-import. The devices are the
# built-in demo ones (an iPhone and a camera) unless SNAPFERRY_DEVICES names
# a fixture file (see platform/wpd/README.md). The window closes by itself
# when the import is done, and the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."

folder=${1:-$HOME/snapferry-import}
mkdir -p "$folder"
folder=$(cd "$folder" && pwd)

build() {
  local preset=$1 log
  log=$(mktemp)
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target snapferry -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

tools/install-deps.sh linux
echo "Building snapferry (linux preset)..."
build linux
echo "Importing into $folder"
exec build/linux/host/snapferry --import-to "$folder"
