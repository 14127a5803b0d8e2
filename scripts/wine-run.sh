#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix and Wine's own
# diagnostics silenced.
#
#   wine-run.sh [--prefix DIR] [--wait] [--] PROGRAM.exe [ARGS...]
#   wine-run.sh [--prefix DIR] --wait
#   wine-run.sh [--prefix DIR] --hold | --release
#
#   --prefix DIR  the Wine prefix to use unless ZG_WINEPREFIX is set (one of
#                 the two is required; the user's ~/.wine is never used).
#                 Relative paths are made absolute.
#                 A new prefix is created on first use, which takes ~15 s;
#                 programs started meanwhile wait for it rather than make
#                 it twice.
#   --wait        after the program (or, without one, right away) wait until
#                 the prefix's wineserver has exited, so no Wine process
#                 outlives the caller. Without it the wineserver lingers a few
#                 seconds, which keeps back-to-back runs fast.
#   --hold        start the prefix's wineserver and its session (services,
#                 devices) and keep them until --release, for a test run:
#                 every program started meanwhile joins a server that is up.
#                 Without it, a program that finds no server starts one and
#                 boots a session, and a server shuts down a few seconds after
#                 its last program, while parallel tests start theirs. A
#                 program whose Wine cannot reach a server never runs: Wine
#                 prints why on standard error and exits with status 1, which
#                 looks like a program that printed nothing and failed.
#   --release     end the held server (and any program still on it) and wait
#                 until it has exited. While a server is held, --wait does not
#                 wait for it.
#
# The program's standard streams pass through and its exit status is the
# script's; 127 means Wine is not installed. Arguments go to the program
# unchanged: Unix paths work as relative paths or through drive Z:.
#
# Environment: ZG_WINEPREFIX (overrides --prefix), ZG_WINE64 (default
# /usr/lib/wine/wine64), ZG_WINESERVER (default /usr/lib/wine/wineserver64).
# WINEDEBUG is set to -all; WINEDLLOVERRIDES defaults to "mscoree,mshtml=" so
# that a new prefix does not offer to install Mono or Gecko; LC_ALL is C.UTF-8,
# since Wine reads the arguments and file names in the locale's charset.
set -euo pipefail

prefix=
wait_server=0
hold=
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=${2:?--prefix needs a directory}; shift 2 ;;
    --wait) wait_server=1; shift ;;
    --hold | --release) hold=$1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done

WINEPREFIX=${ZG_WINEPREFIX:-$prefix}
if [ -z "$WINEPREFIX" ]; then
  echo "wine-run.sh: no prefix (set ZG_WINEPREFIX or pass --prefix DIR)" >&2
  exit 2
fi
WINEPREFIX=$(realpath -m "$WINEPREFIX") # Wine wants it absolute
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
export LC_ALL=C.UTF-8
wine64=${ZG_WINE64:-/usr/lib/wine/wine64}
wineserver=${ZG_WINESERVER:-/usr/lib/wine/wineserver64}
if [ ! -x "$wine64" ]; then
  echo "wine-run.sh: $wine64 not found (install Debian's wine64)" >&2
  exit 127
fi
[ "$hold" = --release ] && [ ! -e "$WINEPREFIX/.ready" ] && exit 0 # nothing to end
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -e "$WINEPREFIX/.ready" ]; then
  # One first start, however many programs arrive at once.
  flock "$WINEPREFIX.lock" sh -c '
    [ -e "$WINEPREFIX/.ready" ] && exit 0
    "$1" wineboot -i >/dev/null 2>&1 && touch "$WINEPREFIX/.ready"' sh "$wine64"
fi

if [ -n "$hold" ]; then
  # Whatever server this prefix has is ended first: one left by an earlier
  # run that was stopped before its --release, or one still lingering after
  # a program (such as a test listing) ran just before.
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w
  rm -f "$WINEPREFIX/.held"
  [ "$hold" = --release ] && exit 0
  # Persistent until killed; it returns once it accepts programs. Neither the
  # server nor the session's processes may keep the caller's output open: a
  # caller that reads it to its end (ctest) would wait for them.
  "$wineserver" -p </dev/null >/dev/null 2>&1
  touch "$WINEPREFIX/.held"
  # The first program of a server boots its session; this one does it now.
  "$wine64" hostname.exe </dev/null >/dev/null 2>&1
  exit 0
fi

# Without --wait the program takes this script's place, so that its caller
# sees (and can signal or pause) the program itself.
if [ $# -gt 0 ] && [ "$wait_server" = 0 ]; then
  exec "$wine64" "$@"
fi
status=0
if [ $# -gt 0 ]; then
  "$wine64" "$@" || status=$?
fi
# A held server outlives its programs on purpose: its --release ends it.
if [ "$wait_server" = 1 ] && [ -x "$wineserver" ] && [ ! -e "$WINEPREFIX/.held" ]; then
  "$wineserver" -w || true
fi
exit "$status"
