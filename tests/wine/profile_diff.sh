#!/usr/bin/env bash
# Differential test of the profile (INI) readers: every file of tests/wine/profile_corpus is read
# with the queries beside it (NAME.queries) by
#   - the Windows functions GetPrivateProfileStringA / GetPrivateProfileSectionA (Wine's), through
#     profile_probe.exe, under the Japanese code page 932, and
#   - the Linux build's own reader (RealSystem()), through the same probe built for Linux,
# and the two answers are compared line by line.
#
# Usage: tests/wine/profile_diff.sh [--check | --record] [NAME...]   (default: the whole corpus)
# Output: one unified diff per file that reads differently ("-" Wine, "+" Linux), then a summary.
# Exit status: 0 when every file reads alike, 1 when some differ, 2 when the set-up failed.
# With --check, the differences must be exactly the accepted ones recorded in
# tests/wine/profile_known_differences.txt (exit 0), so that CI notices any new difference and any
# that has gone away; --record accepts the differences found now (writes that file).
# The answers are kept in build/windows/profile_diff/ (NAME.wine, NAME.linux).
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
corpus=$top/tests/wine/profile_corpus
out=$top/build/windows/profile_diff
host=$top/build/windows/host

. "$top/tests/wine/wine_env.sh"

die() { echo "profile_diff: $*" >&2; exit 2; }

# The Windows probe, from the windows preset.
if [[ ! -f build/windows/CMakeCache.txt ]]; then
  cmake --preset windows >/dev/null || die "cannot configure the windows preset"
fi
cmake --build --preset windows --target profile_probe >/dev/null || die "cannot build profile_probe.exe"

# The Linux probe: the same source over the Linux platform library, in a host build of its own.
cmake -S "$top" -B "$host" -DCMAKE_BUILD_TYPE=Release -DKESTARIO_BUILD_TESTS=OFF \
  -DKESTARIO_WERROR=OFF >/dev/null || die "cannot configure the host build"
cmake --build "$host" --target kestario_platform kestario_text -j2 >/dev/null ||
  die "cannot build the Linux platform library"
g++ -std=c++17 -O1 -Wall -Wextra -I"$top" tests/wine/profile_probe.cc \
  "$host/platform/libkestario_platform.a" "$host/text/libkestario_text.a" -lcrypto \
  -o "$host/profile_probe" || die "cannot build the Linux profile probe"

wine_env_init || die "cannot prepare Wine"
mkdir -p "$out"

check=0
record=0
case ${1:-} in
  --check) check=1; shift ;;
  --record) record=1; shift ;;
esac
known=$top/tests/wine/profile_known_differences.txt
names=("$@")
if ((${#names[@]} == 0)); then
  for file in "$corpus"/*.ini; do names+=("$(basename "$file" .ini)"); done
fi

differing=()
report=$out/report.txt
: >"$report"
for name in "${names[@]}"; do
  ini=$corpus/$name.ini
  queries=$corpus/$name.queries
  [[ -f $ini && -f $queries ]] || die "no $name.ini with $name.queries in $corpus"
  # Every query prints a line, so an empty answer is a start of the probe that Wine lost (seen
  # once in CI): the probe is started again, up to three times.
  for attempt in 1 2 3; do
    wine_run build/windows/profile_probe.exe "$(winpath "$ini")" "$(winpath "$queries")" \
      2>/dev/null | tr -d '\r' >"$out/$name.wine"
    [[ -s $out/$name.wine ]] && break
    echo "profile_diff: no answer from the probe for $name (attempt $attempt)" >&2
  done
  "$host/profile_probe" "$ini" "$queries" >"$out/$name.linux" 2>&1
  if ! diff -u --label "$name (Wine)" --label "$name (Linux)" "$out/$name.wine" \
      "$out/$name.linux" >>"$report"; then
    differing+=("$name")
  fi
done

cat "$report"
echo
echo "profile_diff: ${#names[@]} files, ${#differing[@]} read differently${differing[*]:+: ${differing[*]}}"
if ((record)); then
  cp "$report" "$known"
  echo "profile_diff: recorded as the accepted differences in $known"
  exit 0
fi
if ((check)); then
  if diff -u --label accepted --label now "$known" "$report"; then
    echo "profile_diff: the differences are the accepted ones"
    exit 0
  fi
  echo "profile_diff: the differences are not the accepted ones (see above)"
  exit 1
fi
((${#differing[@]} == 0))
