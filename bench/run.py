#!/usr/bin/env python3
"""Where a frame's time goes: runs platebench over a synthetic evaluation set
in each mode with PLATEBENCH_PROFILE on, then the runtime layer alone on each
model, and prints the figures. Run from the repository root after a build."""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
MODELS = {
    "plate_det": "models/rknn/plate_det.rknn",
    "plate_corner": "models/rknn/plate_corner.rknn",
    "ppocrv6_det": "models/rknn/ppocrv6_det.rknn",
    "ppocrv6_rec": "models/rknn/ppocrv6_rec.rknn",
}


def make_eval_set(frames, seed):
    out = os.path.join(ROOT, "out", "bench", "eval_%d_%d" % (seed, frames))
    if not os.path.exists(os.path.join(out, "cases_roi.csv")):
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "synth", "generate.py"), "--out", out,
                        "--count", str(frames), "--seed", str(seed), "--frames-per-group", "3"],
                       check=True, stdout=subprocess.DEVNULL)
    return out


def read_profile(path):
    frames, buckets = [], {}
    with open(path) as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if parts[0] == "frame_ms":
                frames = [float(v) for v in parts[1:]]
            elif parts[0] == "bucket":
                buckets[parts[1]] = (int(parts[2]), float(parts[3]))
    return frames, buckets


def run_mode(mode, eval_dir):
    out_dir = os.path.join(ROOT, "out", "bench", "run_" + mode)
    profile = os.path.join(ROOT, "out", "bench", "profile_%s.tsv" % mode)
    cases = os.path.join(eval_dir, "cases_%s.csv" % ("roi" if mode == "roi" else "frame"))
    env = dict(os.environ, PLATEBENCH_PROFILE=profile)
    start = time.monotonic()
    proc = subprocess.Popen([os.path.join(BIN, "platebench"), "--input-mode", mode, "--input-list", cases,
                             "--output-dir", out_dir], cwd=ROOT, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    stdout = proc.stdout.read()
    # wait4 gives this child's own peak memory, not the largest of all children.
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    if proc.returncode not in (0, 2):
        sys.exit("platebench failed in mode %s (exit %d)" % (mode, proc.returncode))
    frames, buckets = read_profile(profile)
    n = len(frames)
    total = sum(frames)
    models = {k: v for k, v in buckets.items() if k.startswith("model:")}
    inference = sum(ms for _, ms in models.values())
    prep = buckets.get("image_prep", (0, 0.0))[1]
    jpeg = buckets.get("debug_jpeg", (0, 0.0))[1]
    rest = total - inference - prep - jpeg
    ordered = sorted(frames)
    p95 = ordered[min(n - 1, (n * 95) // 100)]
    pct = lambda ms: 100.0 * ms / total if total else 0.0  # noqa: E731
    print("== mode %s: %d frames, wall %.1f s, CPU %.1f s" % (mode, n, wall, usage.ru_utime + usage.ru_stime))
    print("  frames per second     %.3f" % (1000.0 * n / total))
    print("  time per frame        mean %.1f ms, p95 %.1f ms" % (statistics.mean(frames), p95))
    print("  model runs            %.1f ms/frame  %5.1f %%" % (inference / n, pct(inference)))
    print("  image preparation     %.1f ms/frame  %5.1f %%" % (prep / n, pct(prep)))
    print("  debug pictures (JPEG) %.1f ms/frame  %5.1f %%" % (jpeg / n, pct(jpeg)))
    print("  post-processing, rest %.1f ms/frame  %5.1f %%" % (rest / n, pct(rest)))
    print("  not model inference   %5.1f %% of a frame" % (100.0 - pct(inference)))
    for name, (calls, ms) in sorted(models.items()):
        print("  %-28s %6.1f runs/frame  %7.2f ms/run" % (name, calls / n, ms / calls if calls else 0))
    print("  peak resident memory  %.1f MiB" % (usage.ru_maxrss / 1024.0))
    with open(os.path.join(out_dir, "FINAL_RESULT.json")) as f:
        final = json.load(f)
    share = lambda part, whole: 100.0 * part / whole if whole else 0.0  # noqa: E731
    print("  accuracy              frames %.1f %% (%d/%d), groups %.1f %% (%d/%d)" % (
        share(final["frame_correct"], final["frame_total"]), final["frame_correct"], final["frame_total"],
        share(final["group_correct"], final["group_total"]), final["group_correct"], final["group_total"]))
    return stdout


def run_kana_fallback(eval_dir, plates):
    """The kana search forced on the first plates of the ROI list."""
    cases = os.path.join(eval_dir, "cases_roi.csv")
    with open(cases, encoding="utf-8") as f:
        lines = f.readlines()[:plates + 1]
    subset = os.path.join(ROOT, "out", "bench", "kana_cases.csv")
    with open(subset, "w", encoding="utf-8") as f:
        f.writelines(lines)
    out = subprocess.run([os.path.join(BIN, "kana_eval"), subset, MODELS["plate_corner"], MODELS["ppocrv6_rec"],
                          "dict/ppocrv6_rec_dict.txt", os.path.join(ROOT, "out", "bench", "kana_scratch")],
                         cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=True).stdout
    print("== kana search forced on %d ROI plates (as if the reader had found no kana)" % (len(lines) - 1))
    print("  " + out.rstrip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--frames", type=int, default=30)
    parser.add_argument("--seed", type=int, default=9001)
    parser.add_argument("--modes", default="roi,frame")
    parser.add_argument("--runs", type=int, default=30, help="runs per model for the runtime-alone figures")
    parser.add_argument("--kana-plates", type=int, default=100,
                        help="plates of the ROI list on which the kana search is forced (0: skip)")
    args = parser.parse_args()

    eval_dir = make_eval_set(args.frames, args.seed)
    for mode in args.modes.split(","):
        print(run_mode(mode, eval_dir).strip())
    if args.kana_plates > 0:
        run_kana_fallback(eval_dir, args.kana_plates)
    print("== runtime layer alone (RknnModel) against OpenCV dnn alone")
    for name, path in MODELS.items():
        if os.path.exists(os.path.join(ROOT, path)):
            out = subprocess.run([os.path.join(BIN, "runtime_bench"), path, str(args.runs)], cwd=ROOT,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
            print(out.rstrip())


if __name__ == "__main__":
    main()
