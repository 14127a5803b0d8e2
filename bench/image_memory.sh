#!/usr/bin/env bash
# Peak memory of builds from a 100 MB image: a build may hold the image once,
# plus at most 64 MiB. The image is a test stub with a 100 MiB section behind
# its others: a data section, which keeps its place (the resources then go to
# a new section, or stay where they are), or a discardable one, which moves up
# when the resources grow (the image's data then moves in memory). Each with
# the example package (the resources fit) and one whose name outgrows them.
#
#   bash bench/image_memory.sh [ZIPGRAFT [OTHER_ZIPGRAFT]]   (after scripts/build.sh)
#
# ZIPGRAFT defaults to build/src/app/zipgraft; OTHER_ZIPGRAFT, when given, is
# measured beside it on the same inputs (for instance main's build). Prints
# one line per build: the peak RSS (/usr/bin/time -f %M) of each binary, the
# bound, and "met" or "MISSED" for the first. Needs the test stubs
# (build/stubs, made by the test build) and about 1 GB of scratch space.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
zipgraft=${1:-$here/build/src/app/zipgraft}
other=${2:-}
stubs=${ZG_STUB_DIR:-$here/build/stubs}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

bash "$here/examples/make_package_zip.sh" "$scratch/short.zip" >/dev/null
mkdir "$scratch/long"
sed "s/>Sound Driver</>$(seq -s ' ' 1 700)</" "$here/examples/package/SETUP42.xml" \
  >"$scratch/long/SETUP42.xml"
(cd "$scratch/long" && zip -q -X ../long.zip SETUP42.xml)

peak() {  # peak RSS in KiB of one build
  mkdir -p "$scratch/out" && rm -f "$scratch/out/SETUP42.exe"
  /usr/bin/time -f '%M' -o "$scratch/time.txt" "$1" "$2" "$3" "$scratch/out/SETUP42.exe" \
    >"$scratch/log.txt" || { cat "$scratch/log.txt" >&2; echo "failed"; return; }
  cat "$scratch/time.txt"
}

missed=0
for kind in data discardable; do
  stub=$scratch/big_$kind.exe
  cp "$stubs/stub64_full.exe" "$stub"
  /usr/bin/python3 "$here/tests/fixtures/stubs/pe_fixup.py" big "$stub" 100 "$kind"
  image_kib=$(($(stat -c %s "$stub") / 1024))
  bound=$((64 * 1024 + image_kib))
  for package in short long; do
    mine=$(peak "$zipgraft" "$stub" "$scratch/$package.zip")
    line="$kind section, $package package: image $image_kib KiB; peak $mine KiB"
    [ -z "$other" ] || line="$line (other: $(peak "$other" "$stub" "$scratch/$package.zip") KiB)"
    if [ "$mine" != failed ] && [ "$mine" -le "$bound" ]; then
      echo "$line; bound $bound KiB: met"
    else
      echo "$line; bound $bound KiB: MISSED"
      missed=1
    fi
  done
done
exit "$missed"
