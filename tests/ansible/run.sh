#!/usr/bin/env bash
# The role kestario_update (examples/ansible/deploy.yml) against this machine (connection local,
# with become), each play in a folder of its own under a temporary folder:
#   check    --check on a fresh host with finish.ini: predicts the run (updater-check --what-if
#            on the host), changes nothing, does not fail
#   run      finish.ini: the run finishes -> the run task changed
#   rerun    the same again: the script has already finished -> nothing changes
#   fail     fail.ini: a COPY fails (message 8) -> the host failed, the box's text in the output
#   cancel   cancel.ini: the answer No stops it -> not failed, the run task not changed,
#            "cancelled by an answer"
#   restart  a program that ends with status 194 (a change waits for a restart): the restart
#            handler is notified; updater_reboot=false, so this machine is not restarted
# Each play's recap line for the host is compared, and the report that updater-report made on
# the controller from the fetched run log is read. Prints the recaps (and writes them to
# $KESTARIO_ANSIBLE_RECAPS when that is set); exit status 0 when all are as expected. Builds the
# Linux programs when they are missing.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
command -v ansible-playbook >/dev/null || { echo "ansible: ansible-playbook is missing (scripts/install-deps)"; exit 1; }
build=$top/build/linux
if [[ ! -x $build/updater.run || ! -x $build/updater-check || ! -x $build/updater-report ]]; then
  { cmake --preset linux && cmake --build --preset linux --target updater updater_check updater_report; } >/dev/null ||
    exit 1
fi

work=$(mktemp -d /tmp/kestario-ansible-XXXXXX)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_LOCAL_TEMP="$work/ansible-tmp"
export ANSIBLE_REMOTE_TEMP="$work/ansible-remote" ANSIBLE_HOME="$work/ansible-home"
# The play becomes root with sudo. Ansible skips become where the user already is root; here it
# goes through sudo all the same (ANSIBLE_BECOME_ALLOW_SAME_USER), so that the role is tested as
# it runs on a fleet. Where sudo cannot become root without a password, the plays run as the user
# (the folders are temporary ones of the user's).
become=()
if sudo -n true 2>/dev/null; then
  export ANSIBLE_BECOME_ALLOW_SAME_USER=True
else
  echo "ansible: sudo -n does not work here; the plays run without become"
  become=(-e ansible_become=false)
fi

# A program that reads its answers and ends as a run whose change waits for a restart does
# (otherwise only on Windows).
printf '#!/bin/sh\ncat >/dev/null\nexit 194\n' >"$work/restart.run"
chmod 0755 "$work/restart.run"

failures=0
recaps=()
# play TITLE DIR SCRIPT RECAP [ANSIBLE OPTION...]: the play must end with the recap line RECAP.
# Its output is in $output afterwards.
play() {
  local title=$1 dir=$2 script=$3 recap=$4 status got
  shift 4
  output=$(ansible-playbook -i localhost, -c local examples/ansible/deploy.yml "${become[@]}" \
    -e "updater_dir=$work/$dir" -e "updater_program=$build/updater.run" \
    -e "updater_checker=$build/updater-check" -e "updater_reporter=$build/updater-report" \
    -e "updater_script=$top/tests/ansible/$script.ini" \
    -e "{\"updater_files\": [\"$top/tests/ansible/fresh.dat\"]}" \
    -e "updater_fetch_dir=$work/logs-$dir" -e updater_reboot=false "$@" 2>&1)
  status=$?
  got=$(grep -E '^localhost +: ok=' <<<"$output" | sed 's/  */ /g; s/ *$//')
  printf '%s: %s (ansible-playbook exit status %d)\n' "$title" "$got" "$status"
  recaps+=("$title: $got")
  [[ $got == "$recap" ]] || problem "expected the recap $recap"
}
# says TEXT...: the last play's output holds each TEXT.
says() {
  local text
  for text in "$@"; do
    grep -qF -- "$text" <<<"$output" || problem "the output does not say: $text"
  done
}
# reported DIR OUTCOME RUNS: the play printed the fleet report, and updater-report reads the logs
# fetched to DIR as one computer whose last run ended with OUTCOME (its JSON name), in RUNS runs.
reported() {
  local got
  grep -qF "TASK [kestario_update : The fleet report]" <<<"$output" || problem "no fleet report"
  got=$("$build/updater-report" --json "$work/$1" | python3 -c '
import json, sys
report = json.load(sys.stdin)
print(" ".join("%s/%s" % (c["outcome"], c["runs"]) for c in report["computers"]))')
  [[ $got == "$2/$3" ]] || problem "the fetched logs report $got, not $2/$3"
}
problem() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
  printf '%s\n' "$output" | sed 's/^/    /'
}

play check finish finish "localhost : ok=15 changed=5 unreachable=0 failed=0 skipped=8 rescued=0 ignored=0" --check
says "creates $work/finish/installed.dat" "would finish" "exit code 0"
[[ ! -e $work/finish ]] || problem "check mode left $work/finish behind"

play run finish finish "localhost : ok=12 changed=7 unreachable=0 failed=0 skipped=4 rescued=0 ignored=0"
reported logs-finish finished 1
[[ -f $work/finish/installed.dat ]] || problem "the run did not install its file"

play rerun finish finish "localhost : ok=11 changed=0 unreachable=0 failed=0 skipped=5 rescued=0 ignored=0"
says "has already finished on localhost"
reported logs-finish finished 1

play fail fail fail "localhost : ok=10 changed=5 unreachable=0 failed=1 skipped=2 rescued=0 ignored=0"
says '"rc": 67' "ファイルのコピーに失敗しました。"
reported logs-fail failed 1
[[ ! -e $work/fail/installed.dat && ! -e $work/fail/.kestario-update.done ]] ||
  problem "the failed run left a file or a record"

play cancel cancel cancel "localhost : ok=12 changed=5 unreachable=0 failed=0 skipped=4 rescued=0 ignored=0"
says "The update was cancelled by an answer (exit status 66)"
reported logs-cancel cancelled 1
[[ ! -e $work/cancel/installed.dat && ! -e $work/cancel/.kestario-update.done ]] ||
  problem "the cancelled run left a file or a record"

play restart restart finish "localhost : ok=12 changed=7 unreachable=0 failed=0 skipped=6 rescued=0 ignored=0" \
  -e "updater_program=$work/restart.run"
says "RUNNING HANDLER [kestario_update : A restart is pending (not restarted, updater_reboot is false)]" \
  "a change takes effect when it restarts"

if [[ -n ${KESTARIO_ANSIBLE_RECAPS:-} ]]; then printf '%s\n' "${recaps[@]}" >"$KESTARIO_ANSIBLE_RECAPS"; fi
echo "ansible: $failures problem(s)"
((failures == 0))
