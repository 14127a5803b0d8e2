#!/usr/bin/env bash
# Packages from real images nobody here built (tests/fixtures/real/MANIFEST):
# MSVC PE32 and PE32+, a Microsoft-signed DLL, a .NET assembly. Each package is
# checked by pefile against its image, by Windows' own version reader under
# Wine, run where it can be (the x86-64 program, with the same arguments and
# exit status as its image), and signed again with osslsigncode.
#   real_images_test.sh ZIPGRAFT SOURCE_DIR STUB_DIR WORK_DIR
set -euo pipefail
zipgraft=$1 src=$2 stubs=$3 work=$4
python=/usr/bin/python3
export LC_ALL=C.UTF-8
fixtures=$src/tests/fixtures/real

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
wine_ok=0
[ -x "${ZG_WINE64:-/usr/lib/wine/wine64}" ] && wine_ok=1
[ "$wine_ok" = 1 ] || echo "SKIP: Wine checks (wine64 is not installed)"
wine() { bash "$src/scripts/wine-run.sh" --prefix "$work/wineprefix" "$@"; }
sign_ok=0
command -v osslsigncode >/dev/null && sign_ok=1
[ "$sign_ok" = 1 ] || echo "SKIP: signing (osslsigncode is not installed)"

rm -rf "$work/rows" && mkdir -p "$work/rows"
bash "$src/examples/make_package_zip.sh" "$work/package.zip"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 2 -subj "/CN=zipgraft test signer" 2>/dev/null

# image | arguments to run it with (- when it cannot run here) | the image's
# InternalName and FileVersion, as the package's comment carries them
rows='
notifu.exe         -   notifu_1.7
notifu64.exe       /v  notifu_1.7
conpty.dll         -   winconptydll_1.23.2510.08001
Accessibility.dll  -   Accessibility_4.6.57.0
'
checked=0
while read -r image arguments comment; do
  [ -n "$image" ] || continue
  dir=$work/rows/$image
  mkdir -p "$dir"
  stub=$fixtures/$image
  out=$dir/SETUP42.exe
  if ! "$zipgraft" "$stub" "$work/package.zip" "$out" pass >"$dir/log"; then
    fail "$image: a package is built: $(tail -3 "$dir/log")"
    continue
  fi
  checked=$((checked + 1))
  check=$("$python" "$src/tests/support/pefile_tool.py" package "$out" "$stub") ||
    fail "$image: pefile: $check"
  if grep -q '^MOVED' <<<"$check"; then fail "$image: sections moved: $check"; fi
  if [ "$sign_ok" = 1 ]; then
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$out" \
      -out "$dir/signed.exe" >"$dir/sign.log" 2>&1 || fail "$image: signing: $(cat "$dir/sign.log")"
    osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/signed.exe" >"$dir/verify.log" 2>&1 ||
      fail "$image: the signature does not verify: $(tail -3 "$dir/verify.log")"
    cp "$dir/signed.exe" "$dir/signed/SETUP42.exe" 2>/dev/null ||
      { mkdir -p "$dir/signed" && cp "$dir/signed.exe" "$dir/signed/SETUP42.exe"; }
    "$zipgraft" --verify "$dir/signed/SETUP42.exe" >"$dir/reverify.log" ||
      fail "$image: the signed package does not load: $(cat "$dir/reverify.log")"
  fi
  [ "$wine_ok" = 1 ] || continue
  wine "$stubs/version_reader.exe" "$out" >"$dir/version.txt" 2>&1 || true
  for line in "FileVersion=1.00.0.12" "ProductName=Sound Driver Package" "PrivateBuild=pass" \
    "Comments=Created using ${comment/_/ version }"; do
    grep -qxF "$line" <(tr -d '\r' <"$dir/version.txt") ||
      fail "$image: Windows' version reader shows $line: $(head -c 300 "$dir/version.txt")"
  done
  [ "$arguments" != - ] || continue
  cp "$stub" "$dir/image.exe"
  status=0 && wine "$dir/image.exe" "$arguments" >"$dir/image.out" 2>&1 || status=$?
  packaged=0 && wine "$out" "$arguments" >"$dir/package.out" 2>&1 || packaged=$?
  [ "$status" = "$packaged" ] && cmp -s "$dir/image.out" "$dir/package.out" ||
    fail "$image: the package exits $packaged, the image $status"
done <<<"$rows"
echo "$checked real images built"
[ "$checked" = 4 ] || fail "not every real image was built"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
