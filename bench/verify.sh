#!/usr/bin/env bash
# --verify benchmark: times `zipgraft --verify PACKAGE` against `7zz t` and `unzip -tq` on the
# same package, side by side, on packages built at run time in a scratch directory:
#   stored-198M   the example definition and 198 MiB of stored members
#   many-20001    the definition and 20,000 small deflated members
# Goals: on the large package, --verify at most 0.5 x 7zz t and 0.25 x unzip -tq (the median
# of the per-round quotients); on the many-member one, the times are shown beside each other;
# on both, zipgraft's peak RSS at most 64 MiB + twice the central directory.
#
#   bash bench/verify.sh [--zipgraft PATH] [--stub PATH] [--rounds N] [--quick] [--scratch DIR]
#
# The machine's load average is printed beside the figures: on a shared machine they move with
# it. A benchmark, not a test: registered nowhere in CTest. Needs python3, 7zz (7zip), unzip
# and /usr/bin/time; scripts/setup.sh installs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" "$root/bench/verify.py" "$@"
