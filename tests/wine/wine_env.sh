# Shared set-up for the tests that run Windows programs under Wine. Source it from bash:
#   . tests/wine/wine_env.sh
#   wine_env_init [--display]     # prefix (created once, then reused), optional Xvfb
#   wine_run program.exe args...  # runs a program in the prefix
#   winpath /linux/path           # the Windows (Z:) form of a Linux path
# The prefix lives in build/windows/wineprefix and is reused by every later run; delete it to
# start afresh. Xvfb, when asked for, runs on a free display and is stopped when the shell exits.

WINE_TOP=${WINE_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
WINE_BIN=${WINE_BIN:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER_BIN=${WINESERVER_BIN:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEPREFIX=${WINEPREFIX:-$WINE_TOP/build/windows/wineprefix}
export WINEARCH=win64
# No Mono or Gecko installers: the tests need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
# A Japanese system: the ANSI code page is 932 (Shift-JIS).
export LANG=ja_JP.UTF-8
unset LC_ALL
export WINEDEBUG=${WINEDEBUG:--all}

WINE_XVFB_PID=

wine_log() { printf '[wine] %s\n' "$*" >&2; }

winpath() {
  local path
  path=$(readlink -f "$1")
  printf 'Z:%s' "${path//\//\\}"
}

wine_run() { "$WINE_BIN" "$@"; }

# Creates the prefix once; later runs reuse it (the stamp file marks a finished wineboot).
wine_prefix_init() {
  if [[ -f $WINEPREFIX/.kestario-ready ]]; then
    return 0
  fi
  wine_log "creating the Wine prefix $WINEPREFIX (once)"
  mkdir -p "$WINEPREFIX"
  WINEDEBUG=-all "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER_BIN" -w
  # Relay tracing of MessageBoxA only: the harness reads each box's text and caption, as the
  # exact bytes the program passed, and its answer from these trace lines.
  WINEDEBUG=-all "$WINE_BIN" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'user32.MessageBoxA' /f >/dev/null 2>&1
  "$WINESERVER_BIN" -w
  [[ -f $WINEPREFIX/system.reg ]] || { wine_log "wineboot failed"; return 1; }
  touch "$WINEPREFIX/.kestario-ready"
}

# Starts Xvfb on the first free display from :90 on; sets DISPLAY.
wine_xvfb_start() {
  local display
  for display in $(seq 90 120); do
    if [[ ! -e /tmp/.X11-unix/X$display && ! -e /tmp/.X$display-lock ]]; then
      Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      WINE_XVFB_PID=$!
      export DISPLAY=":$display"
      local i
      for i in $(seq 50); do
        [[ -e /tmp/.X11-unix/X$display ]] && return 0
        sleep 0.1
      done
      wine_log "Xvfb did not start on :$display"
      return 1
    fi
  done
  wine_log "no free X display"
  return 1
}

wine_env_cleanup() {
  "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
  "$WINESERVER_BIN" -w >/dev/null 2>&1 || true
  if [[ -n $WINE_XVFB_PID ]]; then
    kill "$WINE_XVFB_PID" 2>/dev/null || true
    wait "$WINE_XVFB_PID" 2>/dev/null || true
    WINE_XVFB_PID=
  fi
}

wine_env_init() {
  local want_display=0
  [[ ${1:-} == --display ]] && want_display=1
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    wine_log "the ja_JP.UTF-8 locale is missing (scripts/install-deps generates it)"
    return 1
  fi
  wine_prefix_init || return 1
  trap wine_env_cleanup EXIT
  if ((want_display)); then
    wine_xvfb_start || return 1
  fi
  # Keep one wineserver alive for the whole run, so that each program starts quickly.
  "$WINESERVER_BIN" -p >/dev/null 2>&1 || true
}
