# Shared by the scripts that build packages from images and check them with
# tools nobody here wrote; sourced after setting zipgraft, src, stubs, work.
# shellcheck shell=bash
python=/usr/bin/python3
export LC_ALL=C.UTF-8

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
wine_ok=0
[ -x "${ZG_WINE64:-/usr/lib/wine/wine64}" ] && wine_ok=1
wine() { bash "$src/scripts/wine-run.sh" --prefix "$work/wineprefix" "$@"; }

# build_package NAME STUB ZIP OUT [PASS]: false (and a failure) when no package is built.
build_package() {
  "$zipgraft" "$2" "$3" "$4" ${5:+"$5"} >"$(dirname "$4")/log" && return 0
  fail "$1: a package is built: $(tail -3 "$(dirname "$4")/log")"
  return 1
}

# pefile_package NAME OUT STUB: pefile's comparison of a package with its
# stub, left in $check.
pefile_package() {
  check=$("$python" "$src/tests/support/pefile_tool.py" package "$2" "$3") ||
    fail "$1: pefile: $check"
}

# shows_versions NAME OUT LINE...: Windows' version reader prints each line.
shows_versions() {
  local name=$1 out=$2 line
  shift 2
  wine "$stubs/version_reader.exe" "$out" >"$out.version.txt" 2>&1 || true
  for line in "$@"; do
    grep -qxF "$line" <(tr -d '\r' <"$out.version.txt") ||
      fail "$name: Windows' version reader shows $line: $(head -c 300 "$out.version.txt")"
  done
}

# runs_alike NAME STUB OUT ARGS...: the package exits and prints as its stub.
runs_alike() {
  local name=$1 stub=$2 out=$3 status=0 packaged=0
  shift 3
  wine "$stub" "$@" >"$out.stub.out" 2>&1 || status=$?
  wine "$out" "$@" >"$out.package.out" 2>&1 || packaged=$?
  [ "$status" = "$packaged" ] && cmp -s "$out.stub.out" "$out.package.out" ||
    fail "$name: the package exits $packaged and prints $(head -c 100 "$out.package.out"), the stub $status"
}

# finish: the verdict, as the exit status.
finish() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
}
