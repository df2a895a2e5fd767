#!/usr/bin/env python3
"""Soak: one platebench process over many frames (the sample crops again and
again, shipped models). Samples the process's resident and peak memory and its
open file descriptors from /proc while it runs and prints them at the start,
the middle and the end of the run: they must stay flat. Run from the
repository root after a build."""
import argparse
import csv
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join("samples", "real_lpr", "real_lpr_expected.csv")


def status_kb(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def open_fds(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def frames_done(table):
    try:
        with open(table, "rb") as f:
            return max(0, f.read().count(b"\n") - 1)
    except FileNotFoundError:
        return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=10000)
    ap.add_argument("--mode", default="roi", choices=["roi", "frame"])
    args = ap.parse_args()

    with open(os.path.join(ROOT, SAMPLES), newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    work = tempfile.mkdtemp(prefix="pb_soak_")
    cases = os.path.join(work, "cases.csv")
    with open(cases, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["image_path", "expected", "group_id"])
        for i in range(args.frames):
            r = rows[i % len(rows)]
            w.writerow([r["image_path"], r["expected"], "g%d" % (i // 3)])
    out_dir = os.path.join(work, "out")
    table = os.path.join(out_dir, "frame_summary.csv")

    proc = subprocess.Popen([os.path.join(ROOT, "build", "bin", "platebench"), "--input-mode", args.mode,
                             "--input-list", cases, "--output-dir", out_dir], cwd=ROOT,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    marks = {"start": max(1, args.frames // 100), "middle": args.frames // 2, "end": args.frames}
    seen, last = {}, None
    started = time.monotonic()
    while proc.poll() is None:
        try:
            sample = (frames_done(table), status_kb(proc.pid, "VmRSS"), status_kb(proc.pid, "VmHWM"),
                      open_fds(proc.pid))
        except (FileNotFoundError, ProcessLookupError):
            break
        last = sample
        for name, at in marks.items():
            if name not in seen and sample[0] >= at:
                seen[name] = sample
        time.sleep(0.2)
    wall = time.monotonic() - started
    if proc.wait() not in (0, 2):
        sys.exit("platebench failed (exit %d)" % proc.returncode)
    # The last sample before exit stands for the end if the run finished between two samples.
    seen.setdefault("end", last)
    done = frames_done(table)
    print("soak: %d frames in one process, mode %s, %.0f s (%.1f frames/s)" % (done, args.mode, wall, done / wall))
    print("%-8s %8s %12s %12s %9s" % ("point", "frames", "VmRSS MB", "VmHWM MB", "open fds"))
    for name in ("start", "middle", "end"):
        s = seen.get(name)
        if s:
            print("%-8s %8d %12.1f %12.1f %9d" % (name, s[0], s[1] / 1024, s[2] / 1024, s[3]))
    subprocess.run(["rm", "-rf", work], check=False)


if __name__ == "__main__":
    main()
