#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix and Wine's own
# diagnostics silenced.
#
#   wine_run.sh [--prefix DIR] [--wait] [--] PROGRAM.exe [ARGS...]
#   wine_run.sh [--prefix DIR] --wait
#
#   --prefix DIR  the Wine prefix to use unless ZG_WINEPREFIX is set (one of
#                 the two is required; the user's ~/.wine is never used).
#                 Relative paths are made absolute.
#                 A new prefix is created on first use, which takes ~15 s.
#   --wait        after the program (or, without one, right away) wait until
#                 the prefix's wineserver has exited, so no Wine process
#                 outlives the caller. Without it the wineserver lingers a few
#                 seconds, which keeps back-to-back runs fast.
#
# The program's standard streams pass through and its exit status is the
# script's; 127 means Wine is not installed. Arguments go to the program
# unchanged: Unix paths work as relative paths or through drive Z:.
#
# Environment: ZG_WINEPREFIX (overrides --prefix), ZG_WINE64 (default
# /usr/lib/wine/wine64), ZG_WINESERVER (default /usr/lib/wine/wineserver64).
# WINEDEBUG is set to -all; WINEDLLOVERRIDES defaults to "mscoree,mshtml=" so
# that a new prefix does not offer to install Mono or Gecko.
set -euo pipefail

prefix=
wait_server=0
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=${2:?--prefix needs a directory}; shift 2 ;;
    --wait) wait_server=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done

WINEPREFIX=${ZG_WINEPREFIX:-$prefix}
if [ -z "$WINEPREFIX" ]; then
  echo "wine_run.sh: no prefix (set ZG_WINEPREFIX or pass --prefix DIR)" >&2
  exit 2
fi
WINEPREFIX=$(realpath -m "$WINEPREFIX") # Wine wants it absolute
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
wine64=${ZG_WINE64:-/usr/lib/wine/wine64}
wineserver=${ZG_WINESERVER:-/usr/lib/wine/wineserver64}
if [ ! -x "$wine64" ]; then
  echo "wine_run.sh: $wine64 not found (install Debian's wine64)" >&2
  exit 127
fi
mkdir -p "$(dirname "$WINEPREFIX")"

status=0
if [ $# -gt 0 ]; then
  "$wine64" "$@" || status=$?
fi
if [ "$wait_server" = 1 ] && [ -x "$wineserver" ]; then
  "$wineserver" -w || true
fi
exit "$status"
