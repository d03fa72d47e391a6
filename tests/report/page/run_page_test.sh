#!/bin/sh
# updater-report's HTML page in headless Chromium: writes the logs of a fleet (make_fleet.py),
# reports them as HTML, JSON and CSV, checks the page's policy and the CSV (check_page.py), then
# loads the page in Chromium (page_test.js). The screenshots stay in OUTPUT_FOLDER.
#
# usage: run_page_test.sh UPDATER_REPORT OUTPUT_FOLDER
# Exits 77 (skipped) when node or chromium is missing (scripts/install-deps installs both).
set -eu
report=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
node=$(command -v node || true)
chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$node" ] || [ -z "$chromium" ]; then
  echo "run_page_test: skipped: needs node and chromium (scripts/install-deps installs them)"
  exit 77
fi
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
# From the output folder, so that the page names the logs "fleet/logs/...".
cd "$out"
python3 "$here/make_fleet.py" fleet
expect="--expect fleet/expected.txt"
# shellcheck disable=SC2086
"$report" $expect --html "$out/report.html" --csv "$out/report.csv" fleet/logs
# shellcheck disable=SC2086
"$report" $expect --json fleet/logs >"$out/report.json"
python3 "$here/check_page.py" "$out/report.html" "$out/report.csv" "$out/report.json"
"$node" "$here/page_test.js" "$chromium" "$out/report.html" "$out/report.json" "$out"
