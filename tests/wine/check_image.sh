#!/usr/bin/env bash
# Checks the Windows program's image without running it: it imports only DLLs that every Windows
# has, carries the ASLR, high-entropy ASLR and DEP flags, is a GUI program, and stays small.
# An Authenticode signature (the certificate table that signing appends, data directory entry 4)
# is no part of the program: its size is left out of the limit, and it must end the file, so
# that nothing else hides behind it.
#
# Usage: tests/wine/check_image.sh [EXE]   (default build/windows/updater.exe)
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exe=${1:-$top/build/windows/updater.exe}
objdump=x86_64-w64-mingw32-objdump
allowed="ADVAPI32.dll KERNEL32.dll msvcrt.dll USER32.dll"
limit=$((200 * 1024))

[[ -f $exe ]] || { echo "check_image: no program at $exe"; exit 1; }
headers=$("$objdump" -p "$exe") || { echo "check_image: $objdump cannot read $exe"; exit 1; }

status=0
fail() { echo "check_image: $*"; status=1; }

dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u)
for dll in $dlls; do
  [[ " $allowed " == *" $dll "* ]] || fail "imports $dll, which not every Windows has"
done
characteristics=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  grep -q "^[[:space:]]*$flag\$" <<<"$headers" || fail "DllCharacteristics $characteristics lacks $flag"
done
grep -q '^Subsystem[[:space:]]*00000002' <<<"$headers" || fail "not a GUI (Windows subsystem) program"
size=$(stat -c %s "$exe")
read -r signature_offset signature_size < <(awk '/^Entry 4 / {print $3, $4}' <<<"$headers")
signature_offset=$((16#${signature_offset:-0}))
signature_size=$((16#${signature_size:-0}))
signed=
if ((signature_size > 0)); then
  ((signature_offset + signature_size == size)) ||
    fail "the signature (bytes $signature_offset to $((signature_offset + signature_size))) does not end the file of $size bytes"
  signed=" ($signature_size of them the signature)"
fi
program_size=$((size - signature_size))
((program_size < limit)) || fail "$program_size bytes without the signature, over the limit of $limit"

echo "check_image: $(basename "$exe"): $size bytes$signed, imports $(echo $dlls), DllCharacteristics $characteristics"
((status == 0)) && echo "check_image: ok"
exit $status
