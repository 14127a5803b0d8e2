#!/usr/bin/env bash
# Whole-build benchmark: times `zipgraft STUB ZIP out/SETUP42.exe` against the two-step shell
# recipe it replaces, on archives generated at run time in a scratch directory.
#
#   bash bench/whole_build.sh [options]      (after scripts/build.sh)
#
# Archives (each holds the example definition SETUP42.xml, so every build succeeds):
#   many-20001, many-65535   small deflated members; baseline: cat STUB ZIP > out && zip -A out
#   large-200M, large-1G     stored members of 128 MiB; baseline: cat STUB ZIP > out
#   large-3.5G               only with --huge (needs about 14 GiB free)
#   floor-200M, floor-1G     only with --floor: stored members again; baseline: the two copies
#                            the tool's steps make, cat ZIP > t && cat STUB t > out && rm t;
#                            goal: within 1.15x of it
#   many-200000, zip64-5G    only with --zip64 (about 21 GiB free): 200,000 small members,
#                            and a 5 GiB ZIP64 archive against the two-copy floor (1.15x); with
#                            many-65535 in the same run, 200,000 members at most 3.5x its time
# Each round runs both commands, alternating which goes first; before each command the
# outputs of both are deleted (so each starts with the same memory just freed: on a virtual
# machine, page-cache pages the guest has not used lately can cost a host fault each) and
# sync runs, so neither pays for the other's writeback. Printed per archive: both medians, their ratio, the median of the per-round
# ratios, the ratio of CPU times, and zipgraft's peak RSS from /usr/bin/time -v in one more
# run; then each goal with "met" or "MISSED".
#
# Options:
#   --zipgraft PATH   binary to time (default build/src/app/zipgraft, built with
#                     scripts/build.sh when missing)
#   --stub PATH       stub program (default examples/stub/stub.exe)
#   --rounds N        rounds per archive (default 7; 5 for 1 GiB, 3 for 3.5 GiB)
#   --warmup N        untimed rounds first (default 1): the archive was just written, and
#                     memory neither command has used yet costs more to touch
#   --quick           2,001 members and 16 MiB, 2 rounds: a check that the script works
#   --huge            add the 3.5 GiB archive
#   --floor           add the two archives timed against the two-copy floor
#   --zip64           add many-200000 and zip64-5G
#   --only NAME       run only the named archive (may repeat)
#   --scratch DIR     where archives and outputs go (default: a new directory under $TMPDIR,
#                     removed at the end); each archive is deleted once measured
#
# This is a benchmark, not a test: it is registered nowhere in CTest. Requires python3, zip
# and, for the peak RSS, /usr/bin/time (Debian package time); scripts/setup.sh installs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
case " $* " in
  *" --zipgraft "* | *" --zipgraft="*) ;;
  *) [ -x "$root/build/src/app/zipgraft" ] || bash "$root/scripts/build.sh" "$root/build" ;;
esac
exec "$python" "$root/bench/whole_build.py" "$@"
