#!/usr/bin/env python3
"""Where a frame's time goes and how much is read right: runs platebench over a
synthetic evaluation set (or your own case list, --input-list) in each mode
with PLATEBENCH_PROFILE on, then the runtime layer alone on each model, and
prints the figures. Needs a build; image paths of a case list are taken
relative to the current directory, as platebench takes them."""
import argparse
import csv
import hashlib
import json
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import plate_fields  # noqa: E402

BIN = os.path.join(ROOT, "build", "bin")
OUT = os.path.join(ROOT, "out", "bench")
REGION_WORDS = os.path.join(ROOT, "dict", "region_words.txt")
OCR_DICT = os.path.join(ROOT, "dict", "ppocrv6_rec_dict.txt")
FIELD_LABELS = (("region", "region"), ("class_no", "class number"), ("kana", "kana"), ("serial", "serial"))
MODELS = {
    "plate_det": "models/rknn/plate_det.rknn",
    "plate_corner": "models/rknn/plate_corner.rknn",
    "ppocrv6_det": "models/rknn/ppocrv6_det.rknn",
    "ppocrv6_rec": "models/rknn/ppocrv6_rec.rknn",
}


def model(name):
    return os.path.join(ROOT, MODELS[name])


def reader_files():
    """platebench's models and lists by absolute path, so that it may run where the case list's paths start."""
    return ["--plate-det-model", model("plate_det"), "--plate-corner-model", model("plate_corner"),
            "--ppocr-det-model", model("ppocrv6_det"), "--ppocr-rec-model", model("ppocrv6_rec"),
            "--dict-region", REGION_WORDS, "--ocr-dict", OCR_DICT]


def make_eval_set(frames, seed):
    # The generator draws regions from the word list, so a set made with another list is another set.
    with open(REGION_WORDS, "rb") as f:
        words_id = hashlib.sha1(f.read()).hexdigest()[:8]
    out = os.path.join(OUT, "eval_%d_%d_%s" % (seed, frames, words_id))
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


def field_accuracy(frame_summary):
    """Per field: frames read right out of those whose expectation has the four fields."""
    right = dict.fromkeys(plate_fields.FIELD_NAMES, 0)
    labelled = unlabelled = 0
    with open(frame_summary, encoding="utf-8", newline="") as f:
        for row in csv.DictReader(f):
            want = plate_fields.split_plate_text(row["expected"])
            if want is None:
                unlabelled += 1
                continue
            labelled += 1
            for name in plate_fields.FIELD_NAMES:
                right[name] += row[name] == getattr(want, name)
    return right, labelled, unlabelled


def run_mode(mode, cases, args):
    out_dir = os.path.join(args.out, "run_" + mode)
    profile = os.path.join(args.out, "profile_%s.tsv" % mode)
    env = dict(os.environ, PLATEBENCH_PROFILE=profile)
    start = time.monotonic()
    proc = subprocess.Popen([os.path.join(args.bin, "platebench"), "--input-mode", mode, "--input-list", cases,
                             "--output-dir", out_dir] + reader_files(),
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
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
    right, labelled, unlabelled = field_accuracy(os.path.join(out_dir, "frame_summary.csv"))
    for name, label in FIELD_LABELS:
        print("  field %-16s %5.1f %% (%d/%d)" % (label, share(right[name], labelled), right[name], labelled))
    if unlabelled:
        print("  not scored by field  %d frames (expectation empty or not four fields)" % unlabelled)
    return stdout


def run_kana_fallback(cases, args):
    """The kana search forced on the first plates of the ROI list."""
    with open(cases, encoding="utf-8") as f:
        lines = f.readlines()[:args.kana_plates + 1]
    subset = os.path.join(args.out, "kana_cases.csv")
    with open(subset, "w", encoding="utf-8") as f:
        f.writelines(lines)
    out = subprocess.run([os.path.join(args.bin, "kana_eval"), subset, model("plate_corner"), model("ppocrv6_rec"),
                          OCR_DICT, os.path.join(args.out, "kana_scratch")],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=True).stdout
    print("== kana search forced on %d ROI plates (as if the reader had found no kana)" % (len(lines) - 1))
    print("  " + out.rstrip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--frames", type=int, default=30)
    parser.add_argument("--seed", type=int, default=9001)
    parser.add_argument("--input-list", help="your own case list (image_path,expected,group_id) instead of the "
                        "generated set; every mode reads it")
    parser.add_argument("--modes", help="default: roi,frame; roi with --input-list")
    parser.add_argument("--runs", type=int, default=30,
                        help="runs per model for the runtime-alone figures (0: skip)")
    parser.add_argument("--kana-plates", type=int,
                        help="plates of the ROI list on which the kana search is forced (0: skip; "
                        "default 100, 0 with --input-list)")
    parser.add_argument("--rec-model", help="text recogniser to measure instead of the shipped one "
                        "(a training snapshot, say)")
    parser.add_argument("--bin", default=BIN, help="folder of the built programs")
    parser.add_argument("--out", default=OUT, help="folder for the runs' output")
    args = parser.parse_args()
    if args.rec_model:
        MODELS["ppocrv6_rec"] = os.path.abspath(args.rec_model)
    if args.modes is None:
        args.modes = "roi" if args.input_list else "roi,frame"
    if args.kana_plates is None:
        args.kana_plates = 0 if args.input_list else 100
    missing = [model(name) for name in MODELS if not os.path.exists(model(name))]
    if missing:
        print("bench/run: no model at %s" % ", ".join(missing))
        sys.exit(77)  # what a test runner counts as skipped
    os.makedirs(args.out, exist_ok=True)

    if args.input_list:
        lists = {"roi": args.input_list, "frame": args.input_list}
    else:
        eval_dir = make_eval_set(args.frames, args.seed)
        lists = {"roi": os.path.join(eval_dir, "cases_roi.csv"), "frame": os.path.join(eval_dir, "cases_frame.csv")}
    for mode in args.modes.split(","):
        print(run_mode(mode, lists.get(mode, lists["frame"]), args).strip())
    if args.kana_plates > 0:
        run_kana_fallback(lists["roi"], args)
    if args.runs <= 0:
        return
    print("== runtime layer alone (RknnModel) against OpenCV dnn alone")
    for name in MODELS:
        if os.path.exists(model(name)):
            out = subprocess.run([os.path.join(args.bin, "runtime_bench"), model(name), str(args.runs)],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
            print(out.rstrip())


if __name__ == "__main__":
    main()
