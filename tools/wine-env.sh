#!/usr/bin/env bash
# Sourced by the test scripts: a virtual display, a Wine prefix made once, and
# one persistent wineserver for the whole run. wine_env_stop ends them.
#
# What a test sees must not depend on the machine: the screen is larger than
# any window the tests create (a 640 by 640 window at 150 % is 960 by 960 at
# (960, 300)), and the prefix is set to 96 DPI whatever the display reports.
export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/snapferry/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
SNAPFERRY_WINE_SCREEN="${SNAPFERRY_WINE_SCREEN:-2560x1600}"
_wine_xvfb_pid=""
_wine_desktop_started=""

# Starts Xvfb on $DISPLAY (:93 when unset) unless a server already runs there;
# one that does must be at least as large as the screen above.
_wine_display_start() {
  export DISPLAY="${DISPLAY:-:93}"
  local number="${DISPLAY#:}"
  number="${number%%.*}"
  if [ ! -e "/tmp/.X11-unix/X$number" ]; then
    Xvfb "$DISPLAY" -screen 0 "${SNAPFERRY_WINE_SCREEN}x24" -nolisten tcp \
      >/dev/null 2>&1 &
    _wine_xvfb_pid=$!
    local tries=0
    while [ ! -e "/tmp/.X11-unix/X$number" ] && [ $tries -lt 50 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
  fi
  local have want_w want_h have_w have_h
  have=$(xdpyinfo 2>/dev/null | sed -n 's/^ *dimensions: *\([0-9]*x[0-9]*\).*/\1/p' | head -n 1)
  want_w=${SNAPFERRY_WINE_SCREEN%x*}
  want_h=${SNAPFERRY_WINE_SCREEN#*x}
  have_w=${have%x*}
  have_h=${have#*x}
  if [ -n "$have" ] && { [ "$have_w" -lt "$want_w" ] || [ "$have_h" -lt "$want_h" ]; }; then
    echo "warning: display $DISPLAY is $have, smaller than ${SNAPFERRY_WINE_SCREEN}" >&2
  fi
}

wine_env_start() {
  _wine_display_start
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/.snapferry-ready" ]; then
    echo "creating the Wine prefix at $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.snapferry-ready"
  fi
  if [ ! -f "$WINEPREFIX/.snapferry-dpi-96" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
      /d 96 /f >/dev/null 2>&1 </dev/null &&
      touch "$WINEPREFIX/.snapferry-dpi-96"
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's background services now, detached from any pipe: started by
  # the first test instead, they inherit its output pipe and CTest waits for
  # that output to end until the wineserver goes.
  wineboot >/dev/null 2>&1 </dev/null || true
  # The same holds for the desktop process (explorer.exe /desktop), which
  # Wine closes about a second after its last client process ends and the
  # next process that needs a window starts again: each test executable
  # started it anew, and the one that did handed it its output pipe, which
  # stayed open (the test "timed out" after it had passed) for as long as
  # other tests kept the desktop up. Under load the start also failed now
  # and then ("failed to start explorer", "Cannot start the in-process
  # engine."). A client that lives as long as the wineserver keeps one
  # desktop up for the whole run, started here, detached.
  if [ -z "$_wine_desktop_started" ]; then
    wine cmd.exe /c "ping -n 1000000 127.0.0.1 >nul" \
      >/dev/null 2>&1 </dev/null &
    wine explorer.exe /desktop >/dev/null 2>&1 </dev/null &
    _wine_desktop_started=1
  fi
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  _wine_desktop_started=""
  if [ -n "$_wine_xvfb_pid" ]; then kill "$_wine_xvfb_pid" 2>/dev/null || true; fi
}
