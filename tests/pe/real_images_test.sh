#!/usr/bin/env bash
# Packages from real images nobody here built (tests/fixtures/real/MANIFEST):
# MSVC PE32 and PE32+, a Microsoft-signed DLL, a .NET assembly. Each package is
# checked by pefile against its image, by Windows' own version reader under
# Wine, run where it can be (the x86-64 program, with the same arguments and
# exit status as its image), and signed again with osslsigncode.
#   real_images_test.sh ZIPGRAFT SOURCE_DIR STUB_DIR WORK_DIR
set -euo pipefail
zipgraft=$1 src=$2 stubs=$3 work=$4
fixtures=$src/tests/fixtures/real
# shellcheck source=package_checks.sh
. "$src/tests/pe/package_checks.sh"
[ "$wine_ok" = 1 ] || echo "SKIP: Wine checks (wine64 is not installed)"
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
  build_package "$image" "$stub" "$work/package.zip" "$out" pass || continue
  checked=$((checked + 1))
  pefile_package "$image" "$out" "$stub"
  if grep -q '^MOVED' <<<"$check"; then fail "$image: sections moved: $check"; fi
  if [ "$sign_ok" = 1 ]; then
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$out" \
      -out "$dir/signed.exe" >"$dir/sign.log" 2>&1 || fail "$image: signing: $(cat "$dir/sign.log")"
    osslsigncode verify -CAfile "$work/cert.pem" -in "$dir/signed.exe" >"$dir/verify.log" 2>&1 ||
      fail "$image: the signature does not verify: $(tail -3 "$dir/verify.log")"
    mkdir -p "$dir/signed" && cp "$dir/signed.exe" "$dir/signed/SETUP42.exe"
    "$zipgraft" --verify "$dir/signed/SETUP42.exe" >"$dir/reverify.log" ||
      fail "$image: the signed package does not load: $(cat "$dir/reverify.log")"
  fi
  [ "$wine_ok" = 1 ] || continue
  shows_versions "$image" "$out" "FileVersion=1.00.0.12" "ProductName=Sound Driver Package" \
    "PrivateBuild=pass" "Comments=Created using ${comment/_/ version }"
  [ "$arguments" = - ] || runs_alike "$image" "$stub" "$out" "$arguments"
done <<<"$rows"
echo "$checked real images built"
[ "$checked" = 4 ] || fail "not every real image was built"
finish
