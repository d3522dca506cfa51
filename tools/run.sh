#!/usr/bin/env bash
# The main job, for trying the program out: builds it (linux preset) and
# starts it with the stand-in engine's import interface, which imports every
# photo and video from the first Apple device into a folder:
#
#   tools/run.sh [folder]
#
# Without a folder the import goes to ~/snapferry-import. The devices are the
# built-in demo ones (an iPhone and a camera) unless SNAPFERRY_DEVICES names
# a fixture file (see platform/wpd/README.md). The window closes by itself
# when the import is done, and the program exits.
#
# Where the Linux stand-in cannot host windows yet, the Windows build is run
# under Wine instead (mingw preset).
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

echo "Building snapferry (linux preset)..."
build linux
if [ -x build/linux/host/snapferry ]; then
  echo "Importing into $folder"
  exec build/linux/host/snapferry --import-to "$folder"
fi

echo "The Linux stand-in has no windows yet: running the Windows build under Wine."
build mingw
# shellcheck source=tools/wine-env.sh
. tools/wine-env.sh
wine_env_start
trap wine_env_stop EXIT
echo "Importing into $folder"
tools/wine-run.sh build/mingw/host/snapferry.exe --import-to "$folder"
