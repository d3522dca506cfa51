#!/usr/bin/env bash
# Sourced by the test scripts: a virtual display, a Wine prefix made once, and
# one persistent wineserver for the whole run. wine_env_stop ends them.
export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/snapferry/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
_wine_xvfb_pid=""

wine_env_start() {
  if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:93
    if [ ! -e /tmp/.X11-unix/X93 ]; then
      Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      _wine_xvfb_pid=$!
      sleep 1
    fi
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/.snapferry-ready" ]; then
    echo "creating the Wine prefix at $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.snapferry-ready"
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's background services now, detached from any pipe: started by
  # the first test instead, they inherit its output pipe and CTest waits for
  # that output to end until the wineserver goes.
  wineboot >/dev/null 2>&1 </dev/null || true
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$_wine_xvfb_pid" ]; then kill "$_wine_xvfb_pid" 2>/dev/null || true; fi
}
