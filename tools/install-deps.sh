#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Safe to run again: installed packages are left alone.
set -euo pipefail
#   tools/install-deps.sh          everything: Linux builds, benchmarks, fuzzing, Windows build and Wine
#   tools/install-deps.sh linux    only what the Linux build of the program and its tests need
packages=(cmake ninja-build g++ libgtest-dev googletest nlohmann-json3-dev)
if [ "${1:-all}" != linux ]; then
  packages+=(libbenchmark-dev mingw-w64 wine wine64 xvfb xauth)
  # The release step lists the zip it made.
  packages+=(unzip)
  # Fuzzing: clang with libFuzzer and the sanitizer runtimes, and the
  # symbolizer that puts file and line into a finding's stack.
  packages+=(clang libclang-rt-14-dev llvm)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  # With recommends: Wine's X11 driver loads the X extension libraries (RandR,
  # Render, Xinerama...) it recommends, and the Windows tests were made with them.
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
