#!/usr/bin/env bash
# The Windows part of the test suite: cross-builds updater.exe (windows preset), checks its image
# (imports, hardening flags, size: check_image.sh), runs the Wine
# end-to-end scenarios (tests/wine/scenarios and the shared tests/e2e/scenarios, each shared one
# also predicted by updater-check.exe --what-if and compared with the run), the run log under
# concurrent appends (log_concurrent.py) and the differential test of the INI readers (accepted
# differences only).
# One Wine prefix (build/windows/wineprefix, created once) and one Xvfb serve the whole run.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

status=0
cmake --preset windows >/dev/null && cmake --build --preset windows || exit 1
echo
echo "==== The program's image: imports, hardening flags, size ===="
tests/wine/check_image.sh || status=1
echo
echo "==== Wine end-to-end scenarios (build done after ${SECONDS}s) ===="
tests/wine/run_scenarios.sh || status=1
echo
echo "==== Shared end-to-end scenarios under Wine (after ${SECONDS}s) ===="
tests/wine/run_e2e.py --what-if build/windows/updater-check.exe || status=1
echo
echo "==== The run log: 10 runs appending at once, 3 trials (after ${SECONDS}s) ===="
tests/wine/log_concurrent.py || status=1
echo
echo "==== INI readers: Wine against Linux (after ${SECONDS}s) ===="
tests/wine/profile_diff.sh --check || status=1
echo "run_tests: ${SECONDS}s"
exit $status
