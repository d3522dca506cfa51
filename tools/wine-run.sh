#!/usr/bin/env bash
# Runs one Windows executable under Wine, quietly and headless. tools/wine-env.sh
# starts the display and keeps one wineserver alive for a whole test run.
export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/snapferry/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export DISPLAY="${DISPLAY:-:93}"
exec wine "$@"
