#!/usr/bin/env bash
# The main job, for trying the program out: builds the importer (linux
# preset) and imports every photo and video from the first Apple device into
# a folder:
#
#   tools/run.sh [folder] [importer options]
#
# Without a folder the import goes to ~/snapferry-import. The devices are the
# built-in demo ones unless SNAPFERRY_DEVICES names a fixture file (see
# platform/wpd/README.md). Run it again: what is already there is not copied
# again. `--help` lists the importer's options; the exit code is the
# importer's (0 all imported or already there, 1 some failed, 2 no import
# could start, 130 Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."

folder=$HOME/snapferry-import
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  folder=$1
  shift
fi
mkdir -p "$folder"
folder=$(cd "$folder" && pwd)

build() {
  local preset=$1 log
  log=$(mktemp)
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target snapferry-import -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

tools/install-deps.sh linux
echo "Building snapferry-import (linux preset)..."
build linux
exec build/linux/importer/snapferry-import "$folder" "$@"
