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
# A Japanese system by default: the ANSI code page is 932 (Shift-JIS) and the user interface is
# Japanese. Each Wine program takes its code page and language from LANG when it starts, so a
# run (KESTARIO_WINE_LANG) or a single program (LANG=en_US.UTF-8: code page 1252, English) may
# choose another.
export LANG=${KESTARIO_WINE_LANG:-ja_JP.UTF-8}
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

# The functions whose calls the relay trace shows: the harness reads each box's text and caption,
# as the program passed them, and its answer from these trace lines.
WINE_RELAY_INCLUDE='user32.MessageBoxW'

# Creates the prefix once; later runs reuse it (the stamp file marks a finished wineboot and
# names the traced functions, which are set again when they changed).
wine_prefix_init() {
  local stamp=$WINEPREFIX/.kestario-ready
  if [[ ! -f $stamp ]]; then
    wine_log "creating the Wine prefix $WINEPREFIX (once)"
    mkdir -p "$WINEPREFIX"
    WINEDEBUG=-all "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER_BIN" -w
    [[ -f $WINEPREFIX/system.reg ]] || { wine_log "wineboot failed"; return 1; }
  fi
  if [[ $(cat "$stamp" 2>/dev/null) != "relay $WINE_RELAY_INCLUDE" ]]; then
    WINEDEBUG=-all "$WINE_BIN" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
      /d "$WINE_RELAY_INCLUDE" /f >/dev/null 2>&1
    "$WINESERVER_BIN" -w
    echo "relay $WINE_RELAY_INCLUDE" >"$stamp"
  fi
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
