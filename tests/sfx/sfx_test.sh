#!/usr/bin/env bash
# Runs the example self-extracting stub under Wine, on packages zipgraft
# builds from the freshly compiled stub.
#   sfx_test.sh GROUP ZIPGRAFT SOURCE_DIR WORK_DIR STUB
# STUB is the stub freshly built from examples/stub (by the build). GROUP
# "setup" builds the package and starts the Wine prefix; the others check one
# area each; "cleanup" waits for Wine to exit.
# Exit 77 (skipped) without wine64 or the MinGW-w64 compiler.
set -euo pipefail
group=$1 zipgraft=$2 src=$3 work=$4 stub=$5
python=/usr/bin/python3
tools=$src/tests/sfx/zip_tools.py
export LC_ALL=C.UTF-8 # fixes Wine's code pages: OEM names decode as CP437

skip() { echo "SKIP: $*"; exit 77; }
[ -x "${ZG_WINE64:-/usr/lib/wine/wine64}" ] || skip "wine64 is not installed"
command -v x86_64-w64-mingw32-gcc >/dev/null || skip "x86_64-w64-mingw32-gcc is not installed"
[ -f "$stub" ] || skip "the example stub was not built (is libz-mingw-w64-dev installed?)"

failures=0
pass() { echo "ok: $1"; }
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
# expect DESCRIPTION COMMAND...: the command must succeed.
expect() { if "${@:2}"; then pass "$1"; else fail "$1"; fi; }

wine() { bash "$src/scripts/wine-run.sh" --prefix "$work/wineprefix" "$@"; }
# sfx LOG PROGRAM ARGS...: runs under Wine, output in LOG.out and LOG.err, status in $rc.
sfx() {
  local log=$1
  shift
  rc=0
  wine "$@" >"$log.out" 2>"$log.err" || rc=$?
}
# A fresh folder for this group, current directory from then on.
enter() {
  rm -rf "${work:?}/$group"
  mkdir -p "$work/$group"
  cd "$work/$group"
}
package=$work/pkg/SETUP42.exe

# size and name per member, as unzip -l shows them
unzip_members() {
  unzip -l "$1" | sed -nE 's/^ *([0-9]+) +[0-9-]{8,10} +[0-9]{2}:[0-9]{2} +(.*)$/\1  \2/p'
}
sfx_members() { sed -E 's/^ +//' "$1"; }

# shellcheck source=tests/sfx/sfx_groups.sh
. "$src/tests/sfx/sfx_groups.sh"

case $group in
  setup | reproducible | package | names | damaged | writers | signed | zip64 | large | cleanup)
    "group_$group" ;;
  *) echo "unknown group $group" >&2; exit 2 ;;
esac
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
