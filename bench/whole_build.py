"""Whole-build benchmark: zipgraft against the shell recipe it replaces.

Run through bench/whole_build.sh; see there for the options. Standard library only.

Per archive it times, alternating the two commands in every round (the order flips from one
round to the next), with fresh outputs and `sync` before each command:

  many small members   zipgraft STUB ZIP out/SETUP42.exe   vs   cat STUB ZIP > out && zip -A out
  large stored members zipgraft STUB ZIP out/SETUP42.exe   vs   cat STUB ZIP > out
  the two-copy floor   zipgraft STUB ZIP out/SETUP42.exe   vs   cat ZIP > t && cat STUB t > out
                                                              && rm t   (--floor)

and prints both medians, the ratio of the medians, the median of the per-round ratios, and
zipgraft's peak resident set size (ru_maxrss from wait4(), the figure `/usr/bin/time -v` prints
as "Maximum resident set size").
"""

import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

MIB = 1 << 20
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT_NAME = "SETUP42.exe"
DEFINITION = os.path.join(ROOT, "examples", "package", "SETUP42.xml")


# --- archives ------------------------------------------------------------------------------

def make_many(path, count):
    """count members: the definition and count - 1 small deflated text members."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(DEFINITION, "SETUP42.xml")
        for i in range(1, count):
            text = ("member %05d of the benchmark package\n" % i) * (1 + i % 9)
            archive.writestr("data/d%03d/file%05d.txt" % (i // 500, i), text)


def write_local_member(out, name, blocks, dos_time):
    """A stored member whose data is the concatenation of blocks; returns its central record."""
    crc = 0
    size = 0
    for block in blocks:
        crc = zlib.crc32(block, crc)
        size += len(block)
    offset = out.tell()
    encoded = name.encode()
    out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, dos_time[0], dos_time[1],
                          crc, size, size, len(encoded), 0))
    out.write(encoded)
    for block in blocks:
        out.write(block)
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 10, 0, 0, dos_time[0],
                       dos_time[1], crc, size, size, len(encoded), 0, 0, 0, 0,
                       0o100644 << 16, offset) + encoded


def make_large(path, total, member_size=128 * MIB):
    """Stored members of member_size bytes (the last one shorter) totalling total bytes, each
    a 1 MiB pseudo-random block repeated, plus the definition. Written here rather than with
    zipfile, which switches to ZIP64 records past 2 GiB; zipgraft reads 32-bit archives."""
    block = os.urandom(MIB)
    dos_time = (0x6000, 0x5A21)
    central = []
    with open(path, "wb") as out:
        with open(DEFINITION, "rb") as definition:
            central.append(write_local_member(out, "SETUP42.xml", [definition.read()], dos_time))
        left, part = total, 0
        while left > 0:
            size = min(left, member_size)
            blocks = [block] * (size // MIB) + ([block[: size % MIB]] if size % MIB else [])
            central.append(write_local_member(out, "payload/part%02d.bin" % part, blocks, dos_time))
            left -= size
            part += 1
        directory_at = out.tell()
        directory = b"".join(central)
        out.write(directory)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(central), len(central),
                              len(directory), directory_at, 0))


def make_zip64(path, total, member_size=128 * MIB):
    """Stored members of member_size bytes totalling total bytes past 4 GiB, plus the
    definition: written by zipfile, with ZIP64 records where the offsets need them."""
    block = os.urandom(MIB)
    with zipfile.ZipFile(path, "w", allowZip64=True) as archive:
        archive.write(DEFINITION, "SETUP42.xml")
        left, part = total, 0
        while left > 0:
            size = min(left, member_size)
            with archive.open("payload/part%02d.bin" % part, "w") as member:
                for _ in range(size // MIB):
                    member.write(block)
                member.write(block[: size % MIB])
            left -= size
            part += 1


def directory_size(path):
    """The central directory's size as the end record states it, or the ZIP64 end record
    when the end record holds a placeholder (no archive comment here)."""
    with open(path, "rb") as f:
        f.seek(-22, os.SEEK_END)
        size = struct.unpack("<IHHHHIIH", f.read(22))[5]
        if size != 0xFFFFFFFF:
            return size
        f.seek(-22 - 20, os.SEEK_END)
        record = struct.unpack("<IIQI", f.read(20))[2]
        f.seek(record + 40)
        return struct.unpack("<Q", f.read(8))[0]


# --- runs ----------------------------------------------------------------------------------

def remove(*paths):
    for path in paths:
        try:
            os.remove(path)
        except FileNotFoundError:
            pass


def timed(argv, log):
    """Runs argv; (wall seconds, CPU seconds of it and its children, exit status)."""
    with open(log, "ab") as sink:
        start = time.perf_counter()
        process = subprocess.Popen(argv, stdout=sink, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return elapsed, usage.ru_utime + usage.ru_stime, process.returncode


def peak_rss_kib(argv, log):
    """zipgraft's "Maximum resident set size" from /usr/bin/time -v, or None without it.
    Not from this process's own wait4(): a child forked from Python inherits Python's
    high-water mark."""
    if not os.access("/usr/bin/time", os.X_OK):
        return None
    report = log + ".rss"
    with open(log, "ab") as sink:
        status = subprocess.call(["/usr/bin/time", "-v", "-o", report] + argv,
                                 stdout=sink, stderr=subprocess.STDOUT)
    with open(report) as f:
        lines = [line for line in f if "Maximum resident set size" in line]
    os.remove(report)
    if status != 0 or not lines:
        sys.exit("zipgraft failed under /usr/bin/time; see %s" % log)
    return int(lines[0].split(":")[1])


class Case:
    """An archive to generate, the baseline to time zipgraft against, and the goal for the
    ratio of their median times."""

    def __init__(self, name, make, baseline, rounds, size, goal):
        self.name, self.make, self.baseline, self.rounds = name, make, baseline, rounds
        self.size, self.goal = size, goal


def run_case(case, args, scratch):
    archive = os.path.join(scratch, case.name + ".zip")
    print("\n== %s: generating %s" % (case.name, os.path.basename(archive)), flush=True)
    case.make(archive)
    size = os.path.getsize(archive)
    with zipfile.ZipFile(archive) as z:
        members = len(z.infolist())
    tool_dir = os.path.join(scratch, "zipgraft-out")
    shell_dir = os.path.join(scratch, "shell-out")
    os.makedirs(tool_dir, exist_ok=True)
    os.makedirs(shell_dir, exist_ok=True)
    tool_out = os.path.join(tool_dir, OUTPUT_NAME)
    shell_out = os.path.join(shell_dir, OUTPUT_NAME)
    log = os.path.join(scratch, case.name + ".log")
    recipe = {
        "zip -A": 'cat "$1" "$2" > "$3" && zip -A -q "$3"',
        "cat": 'cat "$1" "$2" > "$3"',
        # What the tool's own steps cost at least: the archive written twice.
        "floor": 'cat "$2" > "$3.t" && cat "$1" "$3.t" > "$3" && rm "$3.t"',
    }[case.baseline]
    commands = {
        "zipgraft": [args.zipgraft, args.stub, archive, tool_out],
        "shell": ["sh", "-c", recipe, "sh", args.stub, archive, shell_out],
    }
    everything = (tool_out, tool_out + ".tmp", shell_out, shell_out + ".t")
    times = {"zipgraft": [], "shell": []}
    cpu = {"zipgraft": [], "shell": []}
    for round_index in range(-args.warmup, case.rounds):
        order = ("zipgraft", "shell") if round_index % 2 == 0 else ("shell", "zipgraft")
        for which in order:
            # Both commands' outputs go, so each run starts with the same memory just freed.
            remove(*everything)
            os.sync()
            seconds, cpu_seconds, status = timed(commands[which], log)
            if status != 0:
                sys.exit("%s failed (exit %d) on %s; see %s" % (which, status, case.name, log))
            if which == "zipgraft" and (os.path.getsize(tool_out) <= size
                                        or os.path.exists(tool_out + ".tmp")):
                sys.exit("zipgraft left an unexpected output for %s" % case.name)
            if round_index >= 0:
                times[which].append(seconds)
                cpu[which].append(cpu_seconds)
        if round_index >= 0:
            print("   round %d: zipgraft %.3f s, shell %.3f s" %
                  (round_index + 1, times["zipgraft"][-1], times["shell"][-1]), flush=True)
    remove(*everything)
    os.sync()
    peak = peak_rss_kib(commands["zipgraft"], log)
    result = {
        "name": case.name, "members": members, "size": size, "rounds": case.rounds,
        "baseline": {"zip -A": "cat + zip -A", "cat": "cat",
                     "floor": "2 x cat"}[case.baseline],
        "tool": statistics.median(times["zipgraft"]), "shell": statistics.median(times["shell"]),
        "paired": statistics.median(t / s for t, s in zip(times["zipgraft"], times["shell"])),
        "tool_cpu": statistics.median(cpu["zipgraft"]), "shell_cpu": statistics.median(cpu["shell"]),
        "peak_kib": peak, "directory": directory_size(archive), "goal": case.goal,
    }
    remove(archive, log, *everything)
    return result


def verdicts(r):
    """The goals this archive has, each with whether the run met it."""
    found = []
    if r["goal"] is not None:
        ratio = r["paired"]
        found.append("median ratio %.2f <= %g: %s" % (ratio, r["goal"],
                                                        "met" if ratio <= r["goal"] else "MISSED"))
    budget = {"many-65535": 16, "many-200000": 64, "zip64-5G": 64}.get(r["name"])
    if budget and r["peak_kib"]:
        limit = budget * 1024 + 2 * r["directory"] / 1024
        found.append("peak RSS %.1f MiB <= %d MiB + 2 x directory = %.1f MiB: %s" %
                     (r["peak_kib"] / 1024, budget, limit / 1024,
                      "met" if r["peak_kib"] <= limit else "MISSED"))
    return found


def cost_per_member(results, goal=3.5):
    """200,000 members against 65,535, measured in the same run."""
    by_name = {r["name"]: r for r in results}
    if "many-200000" not in by_name or "many-65535" not in by_name:
        return []
    ratio = by_name["many-200000"]["tool"] / by_name["many-65535"]["tool"]
    return [("many", "200,000 / 65,535 members: zipgraft %.2fx <= %.1fx: %s"
             % (ratio, goal, "met" if ratio <= goal else "MISSED"))]


def report(results):
    print("\n%-11s %7s %10s %6s %-12s %10s %10s %5s %6s %5s %9s %9s" %
          ("archive", "members", "size", "rounds", "baseline", "zipgraft", "baseline", "ratio",
           "paired", "cpu", "peak RSS", "directory"))
    for r in results:
        rss = "%5.1f MiB" % (r["peak_kib"] / 1024) if r["peak_kib"] else "      n/a"
        print("%-11s %7d %6.1f MiB %6d %-12s %7.1f ms %7.1f ms %5.2f %6.2f %5.2f %s %5.2f MiB" %
              (r["name"], r["members"], r["size"] / MIB, r["rounds"], r["baseline"],
               r["tool"] * 1000, r["shell"] * 1000, r["tool"] / r["shell"], r["paired"],
               r["tool_cpu"] / r["shell_cpu"], rss, r["directory"] / MIB))
    print("\nzipgraft, baseline: median wall-clock times. ratio: their quotient; paired: the median"
          "\nof the per-round quotients (the goals' figure: both commands of a round ran under the"
          "\nsame load); cpu: the quotient of the median CPU times (user + system,"
          "\nchildren included). peak RSS: zipgraft's maximum resident set size (/usr/bin/time -v)"
          "\nin one more run. directory: the archive's central directory.")
    goals = [(r["name"], v) for r in results for v in verdicts(r)] + cost_per_member(results)
    if goals:
        print("\ngoals:")
        for name, verdict in goals:
            print("  %-11s %s" % (name, verdict))


# --- set-up --------------------------------------------------------------------------------

def parse_arguments():
    parser = argparse.ArgumentParser(prog="bench/whole_build.sh",
                                     description="Times whole zipgraft builds against the "
                                                 "shell recipe it replaces.")
    parser.add_argument("--zipgraft", default=os.path.join(ROOT, "build", "src", "app", "zipgraft"),
                        help="the binary to time (default: build/src/app/zipgraft)")
    parser.add_argument("--stub", default=os.path.join(ROOT, "examples", "stub", "stub.exe"))
    parser.add_argument("--scratch", help="where archives and outputs go (default: a new "
                                          "directory under $TMPDIR, removed afterwards)")
    parser.add_argument("--rounds", type=int, help="rounds per archive (default 7; 5 for 1 GiB, "
                                                   "3 for 3.5 GiB)")
    parser.add_argument("--warmup", type=int, default=1,
                        help="untimed rounds before the timed ones (default 1)")
    parser.add_argument("--quick", action="store_true",
                        help="small archives (2,001 members, 16 MiB) and 2 rounds")
    parser.add_argument("--huge", action="store_true", help="also 3.5 GiB of stored members")
    parser.add_argument("--floor", action="store_true",
                        help="also 200 MiB and 1 GiB against the two-copy floor "
                             "(cat ZIP > t && cat STUB t > out && rm t), goal 1.15")
    parser.add_argument("--zip64", action="store_true",
                        help="also 200,000 members and a ZIP64 archive of 5 GiB (against the "
                             "two-copy floor, goal 1.15)")
    parser.add_argument("--only", action="append", metavar="NAME",
                        help="run only this archive (many-20001, many-65535, large-200M, "
                             "large-1G, large-3.5G, floor-200M, floor-1G, many-200000, zip64-5G); "
                             "may repeat")
    return parser.parse_args()


def cases(args):
    def rounds(default):
        return args.rounds or (2 if args.quick else default)

    def many(count, goal=0.5, default_rounds=7, baseline="zip -A"):
        return Case("many-%d" % count, lambda p: make_many(p, count), baseline,
                    rounds(default_rounds), 16 * MIB, goal)

    def large(name, mib, default_rounds, goal, baseline="cat"):
        return Case(name, lambda p: make_large(p, mib * MIB), baseline, rounds(default_rounds),
                    mib * MIB, goal)

    if args.quick:
        return [many(2001, None), large("large-16M", 16, 2, None)]
    chosen = [many(20001), many(65535), large("large-200M", 200, 7, 2.0),
              large("large-1G", 1024, 5, 2.0)]
    if args.huge or (args.only and "large-3.5G" in args.only):
        chosen.append(large("large-3.5G", 3584, 3, 3.0))
    if args.floor or (args.only and any(n.startswith("floor-") for n in args.only)):
        chosen += [large("floor-200M", 200, 7, 1.15, "floor"),
                   large("floor-1G", 1024, 5, 1.15, "floor")]
    if args.zip64 or (args.only and {"many-200000", "zip64-5G"} & set(args.only)):
        # Info-ZIP's zip -A refuses an archive of 200,000 members ("Zip file structure
        # invalid"): timed against cat, and against 65,535 members by the tool itself.
        chosen += [many(200000, None, 3, "cat"),
                   Case("zip64-5G", lambda p: make_zip64(p, 5 * 1024 * MIB), "floor", rounds(3),
                        5 * 1024 * MIB, 1.15)]
    return [c for c in chosen if not args.only or c.name in args.only]


def check_room(scratch, chosen):
    """An archive needs room for itself, zipgraft's output and temporary file, and the
    shell's output: four times its size, and some to spare."""
    need = 4 * max(c.size for c in chosen) + 512 * MIB
    free = shutil.disk_usage(scratch).free
    if free < need:
        sys.exit("not enough room in %s: %.1f GiB free, %.1f GiB needed"
                 % (scratch, free / (1 << 30), need / (1 << 30)))


def main():
    args = parse_arguments()
    if not os.access(args.zipgraft, os.X_OK):
        sys.exit("no zipgraft binary at %s: run scripts/build.sh first" % args.zipgraft)
    for tool in ("zip", "cat", "sh"):
        if shutil.which(tool) is None:
            sys.exit("%s is missing (scripts/setup.sh installs it)" % tool)
    chosen = cases(args)
    if not chosen:
        sys.exit("no archive selected")
    own_scratch = args.scratch is None
    scratch = args.scratch or tempfile.mkdtemp(prefix="zipgraft-bench-")
    os.makedirs(scratch, exist_ok=True)
    print("zipgraft: %s\nstub: %s (%d bytes)\nscratch: %s" %
          (args.zipgraft, args.stub, os.path.getsize(args.stub), scratch))
    try:
        check_room(scratch, chosen)
        results = [run_case(c, args, scratch) for c in chosen]
    finally:
        if own_scratch:
            shutil.rmtree(scratch, ignore_errors=True)
    report(results)


if __name__ == "__main__":
    main()
