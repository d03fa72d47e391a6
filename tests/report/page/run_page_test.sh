#!/bin/sh
# updater-report's HTML page in headless Chromium: writes the logs of a fleet (make_fleet.py),
# reports them as HTML, JSON and CSV, checks the CSV, then loads the page in Chromium
# (page_test.js). The screenshots stay in OUTPUT_FOLDER.
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
python3 "$here/make_fleet.py" "$out/fleet"
expect=""
# shellcheck disable=SC2086
"$report" $expect --html "$out/report.html" --csv "$out/report.csv" "$out/fleet/logs"
# shellcheck disable=SC2086
"$report" $expect --json "$out/fleet/logs" >"$out/report.json"
python3 - "$out/report.csv" "$out/report.json" <<'PYTHON'
import csv, json, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    rows = list(csv.DictReader(f))
with open(sys.argv[2], encoding="utf-8") as f:
    report = json.load(f)
computers = report["computers"]
assert len(rows) == len(computers), (len(rows), len(computers))
for row, computer in zip(rows, computers):
    assert row["computer"] == computer["computer"] and row["outcome"] == computer["outcome"], row
    text = computer["message_text"] or ""
    assert row["message_text"] == text, (row["message_text"], text)
print("run_page_test: the CSV has the %d computers of the JSON" % len(rows))
PYTHON
"$node" "$here/page_test.js" "$chromium" "$out/report.html" "$out/report.json" "$out"
