#!/usr/bin/env bash
# Checks scripts/release on the checked-out commit:
#   1. two releases in two different folders, one after the other, give byte-identical programs
#      and archives (their checksums are compared and printed, the archives listed);
#   2. each archive holds exactly the programs, documents and example it should;
#   3. the one version (project() in CMakeLists.txt) is what updater-check --version and
#      updater-report --version print on Linux and under Wine, and what the Windows programs'
#      version blocks hold (FileVersion,
#      ProductVersion and the fixed numbers, read back from the executables with windres), and
#      what the documents show;
#   4. signing: with a throwaway self-signed code-signing certificate (openssl), `--sign` gives
#      programs that osslsigncode verify accepts against that certificate; the signed
#      updater.exe passes tests/wine/check_image.sh and runs a Wine scenario; with the signature
#      removed, each program is byte for byte the unsigned build; a copy with one byte of its
#      code changed is rejected.
# Works in a temporary folder, removed at the end (--keep DIR keeps everything in DIR instead).
#
# Usage: tests/release/check.sh [--keep DIR]
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

if [[ ${1:-} == --keep ]]; then
  tmp=$2
  rm -rf "$tmp"
  mkdir -p "$tmp"
  tmp=$(readlink -f "$tmp")
else
  tmp=$(mktemp -d /tmp/kestario-release-check-XXXXXX)
  trap 'rm -rf "$tmp"' EXIT
fi

status=0
fail() {
  echo "check: FAIL: $*"
  status=1
}
section() { printf '\n---- %s (after %ds) ----\n' "$*" "$SECONDS"; }

version=$(sed -n 's/^project(KestarioUpdater VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "check: no version in CMakeLists.txt"; exit 1; }
IFS=. read -r major minor patch <<<"$version"
windows=kestario-updater-$version-windows-x64
linux=kestario-updater-$version-linux-x64

# ---- 1. two builds ---------------------------------------------------------------------------

section "first release build"
first=$tmp/a
second=$tmp/second-place/b
scripts/release --work "$first" --out "$first/dist" || { echo "check: the first release failed"; exit 1; }
section "second release build, in another folder"
scripts/release --work "$second" --out "$second/dist" ||
  { echo "check: the second release failed"; exit 1; }

section "checksums of the two builds"
for dist in "$first/dist" "$second/dist"; do
  [[ -f $dist/$windows.zip && -f $dist/$linux.tar.gz && -f $dist/SHA256SUMS ]] ||
    fail "$dist lacks an archive or SHA256SUMS"
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "$dist/SHA256SUMS does not match"
done
programs=(windows/updater.exe windows/updater-check.exe windows/updater-report.exe
          linux/updater.run linux/updater-check linux/updater-report)
for program in "${programs[@]}"; do
  one=$(sha256sum <"$first/src/build/$program" | cut -d' ' -f1)
  two=$(sha256sum <"$second/src/build/$program" | cut -d' ' -f1)
  printf '%s  %s\n%s  %s\n' "$one" "$first/src/build/$program" "$two" "$second/src/build/$program"
  [[ $one == "$two" ]] || fail "$program differs between the two builds"
done
for archive in "$windows.zip" "$linux.tar.gz"; do
  one=$(sha256sum <"$first/dist/$archive" | cut -d' ' -f1)
  two=$(sha256sum <"$second/dist/$archive" | cut -d' ' -f1)
  printf '%s  %s (both builds: %s)\n' "$one" "$archive" "$([[ $one == "$two" ]] && echo equal || echo DIFFERENT)"
  [[ $one == "$two" ]] || fail "$archive differs between the two builds"
done

# ---- 2. the archives' contents ---------------------------------------------------------------

section "archive contents"
list_zip() {  # mode, size, date and name of each entry, in the archive's order
  python3 - "$1" <<'EOF'
import sys, zipfile
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    mode = info.external_attr >> 16
    print("%o %8d %04d-%02d-%02d %02d:%02d  %s" % ((mode & 0o7777, info.file_size) + info.date_time[:5] + (info.filename,)))
EOF
}
echo "$windows.zip:"
list_zip "$first/dist/$windows.zip" | sed 's/^/  /'
echo "$linux.tar.gz:"
tar -tvzf "$first/dist/$linux.tar.gz" | sed 's/^/  /'

expected_files() {  # the files every archive holds beside its programs
  (cd "$top" && printf '%s\n' README.md LICENSE SOURCE docs/*.md docs/images/*.png &&
     find examples -type f | sed 's|^examples/|example/|')
}
want_windows=$( (printf '%s\n' updater.exe updater-check.exe updater-report.exe; expected_files) |
  sed "s|^|$windows/|" | LC_ALL=C sort)
want_linux=$( (printf '%s\n' updater.run updater-check updater-report; expected_files) |
  sed "s|^|$linux/|" | LC_ALL=C sort)
have_windows=$(list_zip "$first/dist/$windows.zip" | awk '{print $5}')
have_linux=$(tar -tzf "$first/dist/$linux.tar.gz" | grep -v '/$')
[[ $have_windows == "$want_windows" ]] ||
  fail "the zip's entries (sorted) differ from the expected: $(diff <(echo "$want_windows") <(echo "$have_windows") | tr '\n' ' ')"
[[ $(LC_ALL=C sort <<<"$have_linux") == "$want_linux" ]] ||
  fail "the tar's files differ from the expected: $(diff <(echo "$want_linux") <(LC_ALL=C sort <<<"$have_linux") | tr '\n' ' ')"

unpacked=$tmp/unpacked
mkdir -p "$unpacked"
python3 -m zipfile -e "$first/dist/$windows.zip" "$unpacked" || fail "cannot unpack the zip"
tar -xzf "$first/dist/$linux.tar.gz" -C "$unpacked" || fail "cannot unpack the tar"
grep -q "^Built from commit $(git rev-parse HEAD) " "$unpacked/$linux/SOURCE" ||
  fail "SOURCE does not name the commit: $(cat "$unpacked/$linux/SOURCE")"

# ---- 3. the version --------------------------------------------------------------------------

section "the version: $version"
for tool in updater-check updater-report; do
  line=$("$unpacked/$linux/$tool" --version)
  echo "Linux:   $line"
  [[ $line == "$tool $version" ]] || fail "$tool --version printed \"$line\""
  line=$(. tests/wine/wine_env.sh && wine_env_init >/dev/null &&
         wine_run "$unpacked/$windows/$tool.exe" --version | tr -d '\r')
  echo "Windows: $line"
  [[ $line == "$tool $version" ]] || fail "$tool.exe --version printed \"$line\""
done
for program in updater.exe updater-check.exe updater-report.exe; do
  rc=$(x86_64-w64-mingw32-windres -i "$unpacked/$windows/$program" -O rc 2>/dev/null)
  for want in " FILEVERSION $major, $minor, $patch, 0" " PRODUCTVERSION $major, $minor, $patch, 0" \
              "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
    grep -qF -- "$want" <<<"$rc" || fail "$program: its version block lacks $want"
  done
  echo "$program: $(grep -E 'FILEVERSION|PRODUCTVERSION|"(File|Product)Version"' <<<"$rc" | sed 's/^ *//' | tr '\n' ';' | sed 's/;$//; s/;/; /g')"
done

# The documents name the version where they show it (examples of archive names and output).
for want in "README.md:kestario-updater-$version-windows-x64.zip" \
            "README.md:project(KestarioUpdater VERSION $version" \
            "docs/release.md:kestario-updater-$version-linux-x64.tar.gz" \
            "docs/release.md:\"updater-check $version\"" "docs/checker.md:updater-check $version" \
            "docs/report.md:updater-report $version"; do
  grep -qF -- "${want#*:}" "${want%%:*}" || fail "${want%%:*} does not show the version: ${want#*:}"
done

# ---- 4. signing ------------------------------------------------------------------------------

section "signing with a throwaway certificate"
keys=$tmp/keys
mkdir -p "$keys"
head -c 24 /dev/urandom | base64 >"$keys/password"
openssl req -x509 -newkey rsa:3072 -nodes -keyout "$keys/key.pem" -out "$keys/cert.pem" -days 2 \
  -subj "/CN=Kestario Updater test signing" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null || fail "openssl cannot make the certificate"
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/cert.pfx" \
  -passout "file:$keys/password" || fail "openssl cannot make the PKCS#12 file"
# The second build's folder again: the build is reused, only the signing and packing are new.
scripts/release --work "$second" --out "$tmp/signed-dist" --sign "$keys/cert.pfx" \
  --pass-file "$keys/password" || fail "the signed release failed"
signed=$tmp/signed
mkdir -p "$signed"
python3 -m zipfile -e "$tmp/signed-dist/$windows.zip" "$signed" || fail "cannot unpack the signed zip"
for program in updater.exe updater-check.exe updater-report.exe; do
  echo "osslsigncode verify $program:"
  osslsigncode verify -CAfile "$keys/cert.pem" -in "$signed/$windows/$program" >"$tmp/verify.txt" 2>&1
  verified=$?
  sed 's/^/  /' "$tmp/verify.txt"
  ((verified == 0)) && grep -q '^Signature verification: ok' "$tmp/verify.txt" ||
    fail "osslsigncode verify rejects the signed $program"
  cmp -s "$signed/$windows/$program" "$unpacked/$windows/$program" &&
    fail "the signed $program is the unsigned one"
  # The signature is all that signing adds: without it, the program is the reproducible one.
  osslsigncode remove-signature -in "$signed/$windows/$program" -out "$tmp/unsigned-$program" \
    >/dev/null || fail "osslsigncode cannot remove the signature of $program"
  if cmp -s "$tmp/unsigned-$program" "$unpacked/$windows/$program"; then
    echo "$program without its signature: byte-identical to the unsigned build"
  else
    fail "$program without its signature differs from the unsigned build"
  fi
done
tests/wine/check_image.sh "$signed/$windows/updater.exe" || fail "the signed updater.exe fails check_image.sh"
grep -q 'of them the signature' < <(tests/wine/check_image.sh "$signed/$windows/updater.exe") ||
  fail "check_image.sh sees no signature in the signed updater.exe"

section "the signed updater.exe under Wine"
tests/wine/run_scenarios.sh --exe "$signed/$windows/updater.exe" \
  tests/wine/scenarios/question_yes.scenario || fail "the signed updater.exe fails a Wine scenario"

section "a signed program with one byte changed"
tampered=$tmp/tampered.exe
cp "$signed/$windows/updater.exe" "$tampered"
text_offset=$(x86_64-w64-mingw32-objdump -h "$tampered" | awk '$2 == ".text" {print $6}')
offset=$((16#${text_offset:-400} + 256))
python3 -c 'import sys
path, offset = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
data[offset] ^= 0x01
open(path, "wb").write(data)' "$tampered" "$offset"
cmp -s "$tampered" "$signed/$windows/updater.exe" && fail "the byte at $offset did not change"
if osslsigncode verify -CAfile "$keys/cert.pem" -in "$tampered" >"$tmp/tampered.txt" 2>&1; then
  fail "osslsigncode verify accepts updater.exe with the byte at $offset changed"
  cat "$tmp/tampered.txt"
else
  echo "byte $offset of .text changed: osslsigncode verify rejects it:"
  grep -E 'MISMATCH|Failed' "$tmp/tampered.txt" | sed 's/^/  /'
fi

echo
echo "check: ${SECONDS}s"
((status == 0)) && echo "check: ok"
exit $status
