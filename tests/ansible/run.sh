#!/usr/bin/env bash
# The Ansible playbook of examples/ansible against this machine (connection local), three times,
# each with a script of tests/ansible/ in a fresh folder:
#   finish.ini  the run finishes          -> the run task "changed", nothing failed
#   fail.ini    a COPY fails (message 8)   -> the host failed, the box's text in the output
#   cancel.ini  the answer No stops it     -> not failed, not changed, "cancelled by an answer"
# Each check reads the play's recap line for the host. Prints the three recaps; exit status 0
# when all three are as expected. Builds the Linux program when it is missing.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
command -v ansible-playbook >/dev/null || { echo "ansible: ansible-playbook is missing (scripts/install-deps)"; exit 1; }
if [[ ! -x build/linux/updater.run ]]; then
  { cmake --preset linux && cmake --build --preset linux --target updater; } >/dev/null || exit 1
fi

work=$(mktemp -d /tmp/kestario-ansible-XXXXXX)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_LOCAL_TEMP="$work/ansible-tmp"
export ANSIBLE_REMOTE_TEMP="$work/ansible-remote" ANSIBLE_HOME="$work/ansible-home"

failures=0
# run NAME RECAP [TEXT]: the play with NAME.ini must end with the recap line RECAP and print TEXT.
run() {
  local name=$1 recap=$2 text=${3:-}
  local dir=$work/$name output status got before=$failures
  output=$(ansible-playbook -i localhost, -c local examples/ansible/deploy.yml \
    -e "updater_dir=$dir" -e "updater_program=$top/build/linux/updater.run" \
    -e "updater_script=$top/tests/ansible/$name.ini" \
    -e "{\"updater_files\": [\"$top/tests/ansible/fresh.dat\"]}" 2>&1)
  status=$?
  got=$(grep -E '^localhost +: ok=' <<<"$output" | sed 's/  */ /g; s/ *$//')
  printf '%s: %s (ansible-playbook exit status %d)\n' "$name" "$got" "$status"
  if [[ $got != "$recap" ]]; then
    echo "  FAIL: expected the recap $recap"
    failures=$((failures + 1))
  fi
  if [[ -n $text ]] && ! grep -qF -- "$text" <<<"$output"; then
    echo "  FAIL: the output does not say: $text"
    failures=$((failures + 1))
  fi
  if ((failures > before)); then printf '%s\n' "$output" | sed 's/^/    /'; fi
}

run finish "localhost : ok=5 changed=5 unreachable=0 failed=0 skipped=3 rescued=0 ignored=0"
run fail "localhost : ok=5 changed=4 unreachable=0 failed=1 skipped=2 rescued=0 ignored=0" \
  "ファイルのコピーに失敗しました。"
run cancel "localhost : ok=6 changed=4 unreachable=0 failed=0 skipped=2 rescued=0 ignored=0" \
  "The update was cancelled by an answer (exit status 66)"
# What each run left: the finished one installed its file, the others did not.
[[ -f $work/finish/installed.dat && ! -e $work/fail/installed.dat && ! -e $work/cancel/installed.dat ]] ||
  { echo "FAIL: the files the runs left are not as expected"; failures=$((failures + 1)); }
echo "ansible: $failures problem(s)"
((failures == 0))
