#!/usr/bin/env bash
# Takes a picture of a real error box: updater.exe without its script under Wine on Xvfb, as on
# a Japanese system, shows message 1. The box (with a small margin) is saved as a PNG.
#
# Usage: tests/wine/screenshot.sh [--exe PATH] [--folder NAME] [OUTPUT.png]
#   OUTPUT.png     default docs/images/wine-error-box.png
#   --exe PATH     the program to show (default build/windows/updater.exe, built first)
#   --folder NAME  the folder below C:\e2e that the program runs in (default screenshot)
# KESTARIO_WINE_LANG=en_US.UTF-8 shows it as on an English system (code page 1252).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
exe=
folder=screenshot
while (($#)) && [[ $1 == --* ]]; do
  case $1 in
    --exe) exe=$(realpath "$2"); shift 2 ;;
    --folder) folder=$2; shift 2 ;;
    *) echo "screenshot: unknown option $1" >&2; exit 2 ;;
  esac
done
output=$(realpath -m "${1:-docs/images/wine-error-box.png}")
. "$top/tests/wine/wine_env.sh"

if [[ -z $exe ]]; then
  [[ -f build/windows/CMakeCache.txt ]] || cmake --preset windows >/dev/null
  cmake --build --preset windows --target updater >/dev/null
  exe=$top/build/windows/updater.exe
fi
wine_env_init --display

# For the picture only: Wine draws the frame and title bar itself (there is no window manager on
# Xvfb), and on a Japanese system shows the text with IPA Gothic (fonts-ipafont-gothic). Undone
# at the end. The fonts of the boxes are those of the prefix's system: a picture as on an English
# system wants a prefix made in that locale (WINEPREFIX=... KESTARIO_WINE_LANG=en_US.UTF-8).
wine_reg() { "$WINE_BIN" reg "$@" >/dev/null 2>&1; }
wine_reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
if [[ $LANG == ja_JP* ]]; then
  for font in 'MS UI Gothic' 'MS Shell Dlg' 'MS Shell Dlg 2' 'Tahoma' 'MS Gothic' 'MS PGothic'; do
    wine_reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d 'IPAGothic' /f
  done
fi
restore_settings() {
  wine_reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f
  wine_reg delete 'HKCU\Software\Wine\Fonts\Replacements' /f
}

dir=$WINEPREFIX/drive_c/e2e/$folder
rm -rf "$dir" && mkdir -p "$dir"
cp "$exe" "$dir/updater.exe"
(cd "$dir" && exec "$WINE_BIN" "C:\\e2e\\$folder\\updater.exe" >/dev/null 2>&1) &
pid=$!

window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --classname '^updater\.exe$' 2>/dev/null | tail -1) && break
  sleep 0.1
done
[[ -n $window ]] || { echo "screenshot: no box appeared" >&2; exit 1; }
sleep 1  # let the box finish painting
eval "$(xdotool getwindowgeometry --shell "$window")"
# The frame that Wine draws around the client area is a few pixels wide: keep a margin.
margin=12
mkdir -p "$(dirname "$output")"
import -window root -crop "$((WIDTH + 2 * margin))x$((HEIGHT + 2 * margin))+$((X - margin))+$((Y - margin))" \
  +repage "$output"
echo "screenshot: $output (${WIDTH}x${HEIGHT} box)"

xdotool windowfocus --sync "$window" && xdotool key Return
wait "$pid" || true
rm -rf "$dir"
restore_settings
