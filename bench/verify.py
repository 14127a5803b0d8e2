"""--verify benchmark: `zipgraft --verify` against `7zz t` and `unzip -tq` on the same package.

Run through bench/verify.sh; see there for the options. Standard library only.

Per package it times, in every round, the three commands one after another (the order rotates
from one round to the next), after one untimed warm-up round, so the package is in the page
cache for each of them; then it prints the medians, the median of the per-round ratios against
each baseline, and zipgraft's peak resident set size against 64 MiB plus twice the central
directory. The machine's load average before and after is printed beside the figures.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import whole_build  # noqa: E402  (the archive generators and the timing helpers)

MIB = 1 << 20
ROOT = whole_build.ROOT


def load():
    return "load average %s" % " ".join(open("/proc/loadavg").read().split()[:3])


def build_package(args, scratch, name, make):
    archive = os.path.join(scratch, name + ".zip")
    make(archive)
    out_dir = os.path.join(scratch, name)
    os.makedirs(out_dir, exist_ok=True)
    package = os.path.join(out_dir, whole_build.OUTPUT_NAME)
    log = os.path.join(scratch, name + ".log")
    if subprocess.call([args.zipgraft, args.stub, archive, package], stdout=subprocess.DEVNULL) != 0:
        sys.exit("zipgraft could not build the %s package" % name)
    directory = whole_build.directory_size(archive)
    os.remove(archive)
    return package, directory, log


def run_case(args, scratch, name, make):
    print("\n== %s: building the package (%s)" % (name, load()), flush=True)
    package, directory, log = build_package(args, scratch, name, make)
    commands = {
        "zipgraft": [args.zipgraft, "--verify", package],
        "7zz": ["7zz", "t", package],
        "unzip": ["unzip", "-tq", package],
    }
    names = list(commands)
    times = {n: [] for n in names}
    for round_index in range(-1, args.rounds):
        order = names[round_index % 3:] + names[:round_index % 3]
        for which in order:
            seconds, _, status = whole_build.timed(commands[which], log)
            if status != 0:
                sys.exit("%s failed (exit %d) on %s; see %s" % (which, status, name, log))
            if round_index >= 0:
                times[which].append(seconds)
        if round_index >= 0:
            print("   round %d: " % (round_index + 1) +
                  ", ".join("%s %.3f s" % (n, times[n][-1]) for n in names), flush=True)
    peak = whole_build.peak_rss_kib(commands["zipgraft"], log)
    result = {"name": name, "size": os.path.getsize(package), "directory": directory,
              "peak_kib": peak, "load": load()}
    for n in names:
        result[n] = statistics.median(times[n])
    for n in ("7zz", "unzip"):
        result["paired_" + n] = statistics.median(t / b for t, b in zip(times["zipgraft"], times[n]))
    shutil.rmtree(os.path.dirname(package))
    os.remove(log)
    return result


def report(results):
    print("\n%-12s %10s %10s %10s %10s %7s %7s %9s %9s" %
          ("package", "size", "--verify", "7zz t", "unzip -tq", "/7zz", "/unzip", "peak RSS",
           "directory"))
    for r in results:
        rss = "%5.1f MiB" % (r["peak_kib"] / 1024) if r["peak_kib"] else "      n/a"
        print("%-12s %6.1f MiB %7.1f ms %7.1f ms %7.1f ms %7.2f %7.2f %s %5.2f MiB" %
              (r["name"], r["size"] / MIB, r["zipgraft"] * 1000, r["7zz"] * 1000,
               r["unzip"] * 1000, r["paired_7zz"], r["paired_unzip"], rss, r["directory"] / MIB))
    print("\nmedian wall-clock times; /7zz, /unzip: the median of the per-round quotients "
          "(--verify over the baseline).\npeak RSS: zipgraft's maximum resident set size "
          "(/usr/bin/time -v) in one more run.")
    print("\ngoals:")
    for r in results:
        limit = 64 * 1024 + 2 * r["directory"] / 1024
        goals = []
        if r["name"].startswith("stored-"):  # the time goals are the large package's
            goals += [("--verify <= 0.5 x 7zz t: %.2f" % r["paired_7zz"], r["paired_7zz"] <= 0.5),
                      ("--verify <= 0.25 x unzip -tq: %.2f" % r["paired_unzip"],
                       r["paired_unzip"] <= 0.25)]
        goals.append(("peak RSS %.1f MiB <= 64 MiB + 2 x directory = %.1f MiB" %
                      ((r["peak_kib"] or 0) / 1024, limit / 1024),
                      r["peak_kib"] is not None and r["peak_kib"] <= limit))
        for text, met in goals:
            print("  %-12s %s: %s" % (r["name"], text, "met" if met else "MISSED"))
        print("  %-12s (%s at the end of its runs)" % (r["name"], r["load"]))


def main():
    parser = argparse.ArgumentParser(prog="bench/verify.sh",
                                     description="Times zipgraft --verify against 7zz t and "
                                                 "unzip -tq.")
    parser.add_argument("--zipgraft", default=os.path.join(ROOT, "build", "src", "app", "zipgraft"))
    parser.add_argument("--stub", default=os.path.join(ROOT, "examples", "stub", "stub.exe"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--quick", action="store_true", help="2,001 members and 16 MiB, 2 rounds")
    parser.add_argument("--scratch")
    args = parser.parse_args()
    for tool in ("7zz", "unzip"):
        if shutil.which(tool) is None:
            sys.exit("%s is missing (scripts/setup.sh installs it)" % tool)
    if not os.access(args.stub, os.R_OK):
        sys.exit("no stub at %s (--stub)" % args.stub)
    if args.quick:
        args.rounds = 2
        chosen = [("many-2001", lambda p: whole_build.make_many(p, 2001)),
                  ("stored-16M", lambda p: whole_build.make_large(p, 16 * MIB))]
    else:
        chosen = [("stored-198M", lambda p: whole_build.make_large(p, 198 * MIB)),
                  ("many-20001", lambda p: whole_build.make_many(p, 20001))]
    scratch = args.scratch or tempfile.mkdtemp(prefix="zipgraft-verify-bench-")
    os.makedirs(scratch, exist_ok=True)
    try:
        print("cores: %d; %s" % (os.cpu_count() or 0, load()))
        results = [run_case(args, scratch, name, make) for name, make in chosen]
        report(results)
    finally:
        if not args.scratch:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
