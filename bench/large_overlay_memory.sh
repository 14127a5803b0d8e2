#!/usr/bin/env bash
# Peak memory of a build whose stub is a small image followed by a sparse
# overlay of 2 GiB - 4 KiB: only the image may be held, so the peak must stay
# within 64 MiB plus the image's size, whatever the overlay's.
#
#   bash bench/large_overlay_memory.sh [ZIPGRAFT [STUB]]   (after scripts/build.sh)
#
# ZIPGRAFT defaults to build/src/app/zipgraft, STUB to examples/stub/stub.exe.
# Prints the image and stub sizes, the peak RSS (/usr/bin/time -f %M), the
# bound, and "met" or "MISSED". Needs about 2 GiB free for the output.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
zipgraft=${1:-$here/build/src/app/zipgraft}
image=${2:-$here/examples/stub/stub.exe}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

stub=$scratch/large_stub.exe
cp "$image" "$stub"
truncate -s $((2 * 1024 * 1024 * 1024 - 4096)) "$stub"
bash "$here/examples/make_package_zip.sh" "$scratch/package.zip" >/dev/null
mkdir "$scratch/out"
/usr/bin/time -f '%M %e' -o "$scratch/time.txt" \
  "$zipgraft" "$stub" "$scratch/package.zip" "$scratch/out/SETUP42.exe" >"$scratch/log.txt" || {
  cat "$scratch/log.txt"
  exit 1
}
read -r peak seconds <"$scratch/time.txt"
image_kib=$(($(stat -c %s "$image") / 1024))
bound=$((64 * 1024 + image_kib))
echo "image: $image_kib KiB; stub: $(($(stat -c %s "$stub") / 1024)) KiB; package: $(($(stat -c %s "$scratch/out/SETUP42.exe") / 1024)) KiB"
echo "peak RSS: $peak KiB in $seconds s; bound: $bound KiB"
if [ "$peak" -le "$bound" ]; then echo "met"; else echo "MISSED"; exit 1; fi
