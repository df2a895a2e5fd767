#!/usr/bin/env python3
"""Where a frame's time goes and how much is read right: runs platebench over a
synthetic evaluation set (or your own case list, --input-list) in each mode
with PLATEBENCH_PROFILE on, then the runtime layer alone on each model; then,
for the generated set, one run against the same run cut into shards by
plateshard, and plateshard's merge on a generated 100,000-frame table; and
prints the figures. Needs a build; image paths of a case list are taken
relative to the current directory, as platebench takes them."""
import argparse
import csv
import filecmp
import hashlib
import json
import os
import re
import shutil
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
    proc = subprocess.Popen([args.platebench or os.path.join(args.bin, "platebench"), "--input-mode", mode,
                             "--input-list", cases,
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


def timed(cmd, **kw):
    """Wall seconds, peak resident MiB of the process itself, exit code, standard error, and the CPU seconds
    of the process and all it waited for."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, **kw)
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    timed.cpu = usage.ru_utime + usage.ru_stime
    return time.monotonic() - start, usage.ru_maxrss / 1024.0, os.waitstatus_to_exitcode(status), err


def same_tree(a, b):
    """Relative paths that differ between two trees, or are in one only."""
    diff = []
    cmp = filecmp.dircmp(a, b)
    stack = [("", cmp)]
    while stack:
        rel, c = stack.pop()
        diff += [os.path.join(rel, n) for n in c.left_only + c.right_only + c.funny_files]
        for name in c.common_files:
            if not filecmp.cmp(os.path.join(c.left, name), os.path.join(c.right, name), shallow=False):
                diff.append(os.path.join(rel, name))
        stack += [(os.path.join(rel, n), sub) for n, sub in c.subdirs.items()]
    return diff


def run_sharded(mode, frames, seed, jobs):
    """One platebench run against plateshard run -j over the same list, in one output folder name."""
    eval_dir = make_eval_set(frames, seed)
    cases = os.path.join(eval_dir, "cases_%s.csv" % ("roi" if mode == "roi" else "frame"))
    work = os.path.join(ROOT, "out", "bench", "sharded")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    out = os.path.join(work, "out")
    options = ["--input-mode", mode, "--input-list", cases, "--output-dir", out]
    load = os.getloadavg()[0]
    one_s, one_mib, one_code, _ = timed([os.path.join(BIN, "platebench")] + options)
    one_cpu = timed.cpu
    os.rename(out, os.path.join(work, "one"))
    two_s, two_mib, two_code, err = timed([os.path.join(BIN, "plateshard"), "run", "-j", str(jobs)] + options)
    two_cpu = timed.cpu
    if one_code not in (0, 2) or two_code != one_code:
        sys.exit("sharded run failed (exit %d, one run %d):\n%s" % (two_code, one_code, err[-2000:]))
    info = dict(re.findall(r"(\w+)=(\d+)", err.strip().splitlines()[-1]))
    added = (int(info["split_ms"]) + int(info["merge_ms"])) / 1000.0
    diff = same_tree(os.path.join(work, "one"), out)
    print("== mode %s, %d frames: one platebench against plateshard run -j %d (%s shards); load average %.1f "
          "on %d cores" % (mode, frames, jobs, info["shards"], load, os.cpu_count()))
    print("  one run               %.1f s  %.2f frames/s  CPU %.1f s" % (one_s, frames / one_s, one_cpu))
    print("  plateshard run -j %d   %.1f s  %.2f frames/s  CPU %.1f s  %.2fx" % (
        jobs, two_s, frames / two_s, two_cpu, one_s / two_s))
    print("  split and merge       %.3f s  %.2f %% of the sharded run" % (added, 100.0 * added / two_s))
    print("  trees                 %s" % ("identical, byte for byte" if not diff else
                                          "DIFFER in %d files, first %s" % (len(diff), diff[0])))


def csv_field(s):
    return '"' + s.replace('"', '""') + '"' if any(c in s for c in ',"\n\r') else s


def make_merge_set(frames, shards):
    """A case list, its split and one output per shard as platebench leaves it, pictures left out."""
    out = os.path.join(ROOT, "out", "bench", "merge_%d_%d" % (frames, shards))
    done = os.path.join(out, "complete")
    if os.path.exists(done):
        return out
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    regions, kana = ["品川", "会津", "湘南", "松本", "名古屋"], ["あ", "さ", "ゆ", "り", "く"]
    with open(os.path.join(out, "list.csv"), "w", encoding="utf-8") as f:
        f.write("image_path,expected,group_id\n")
        for i in range(frames):
            g = i // 3
            plate = "%s %03d %s %02d-%02d" % (regions[g % 5], 300 + g % 700, kana[g % 5], g % 100, (g // 100) % 100)
            f.write("frames/g%06d_f%d.jpg,%s,g%06d\n" % (g, i % 3, "" if g % 17 == 0 else plate, g))
    subprocess.run([os.path.join(BIN, "plateshard"), "split", "--input-list", "list.csv", "--shards", str(shards),
                    "--out", "lists"], cwd=out, check=True, stdout=subprocess.DEVNULL)
    for k in range(shards):
        shard = os.path.join(out, "shard_%03d" % k)
        rows, correct = [], 0
        with open(os.path.join(out, "lists", "shard_%03d.csv" % k), encoding="utf-8") as f:
            next(f)
            for line in f:
                path, expected, group = line.rstrip("\n").split(",")
                n = int(path[8:14]) * 3 + int(path[16])
                fields = expected.split(" ") if expected else ["品川", "300", "あ", "12-34"]
                if n % 11 == 0:
                    fields[3] = "88-88"
                read = " ".join(fields)
                status = "unknown" if not expected else (
                    "correct" if read.replace(" ", "") == expected.replace(" ", "") else "check")
                correct += status == "correct"
                texts = " / ".join("%s_%s:%s" % (v, a, "".join(fields[:2]) if a == "upper_row" else
                                                 "".join(fields[2:]))
                                   for v in ("original", "gray", "clahe", "sharpen", "up2x")
                                   for a in ("det_crop_0", "det_crop_1", "full", "upper_row", "lower_row"))
                rows.append(",".join(csv_field(x) for x in [group, path, expected, read, status] + fields + [texts]))
                case = os.path.join(shard, "cases", os.path.basename(path)[:-4])
                os.makedirs(case)
                with open(os.path.join(case, "result.txt"), "w", encoding="utf-8") as r:
                    r.write("group_id: %s\nimage_path: %s\nstatus: %s\n" % (group, path, status))
        with open(os.path.join(shard, "frame_summary.csv"), "w", encoding="utf-8") as f:
            f.write("group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n")
            f.write("".join(r + "\n" for r in rows))
        with open(os.path.join(shard, "FINAL_RESULT.json"), "w", encoding="utf-8") as f:
            f.write('{\n  "input_mode": "frame",\n  "use_plate_det": true,\n  "frame_total": %d,\n'
                    '  "frame_correct": %d\n}\n' % (len(rows), correct))
    open(done, "w").close()
    return out


def run_merge(frames, shards):
    data = make_merge_set(frames, shards)
    merged = os.path.join(data, "merged")
    shutil.rmtree(merged, ignore_errors=True)
    table_mib = sum(os.path.getsize(os.path.join(data, "shard_%03d" % k, "frame_summary.csv"))
                    for k in range(shards)) / 2.0 ** 20
    split_s, split_mib, code, err = timed([os.path.join(BIN, "plateshard"), "split", "--input-list",
                                           os.path.join(data, "list.csv"), "--shards", str(shards), "--out",
                                           os.path.join(data, "lists_again")])
    if code != 0:
        sys.exit("split failed: " + err)
    print("== plateshard on a generated table of %d frames in %d shards (%.0f MiB of frame tables, one small file "
          "per case folder)" % (frames, shards, table_mib))
    print("  split                 %.2f s  peak %.0f MiB" % (split_s, split_mib))
    shard_dirs = [os.path.join(data, "shard_%03d" % k) for k in range(shards)]
    # --move first, then the case folders go back for the copying merge.
    for how in ("--move", "copying case folders"):
        shutil.rmtree(merged, ignore_errors=True)
        os.sync()  # the removal's writes are not the merge's
        cmd = [os.path.join(BIN, "plateshard"), "merge", "--input-list", os.path.join(data, "list.csv"),
               "--output-dir", merged] + (["--move"] if how == "--move" else []) + shard_dirs
        merge_s, merge_mib, code, err = timed(cmd)
        if code != 0:
            sys.exit("merge failed: " + err)
        print("  merge %-22s %.2f s  peak %.0f MiB" % (how, merge_s, merge_mib))
        if how == "--move":
            with open(os.path.join(data, "lists", "manifest.csv"), encoding="utf-8") as f:
                next(f)
                for line in f:
                    _, shard, path, _ = line.rstrip("\n").split(",")
                    name = os.path.basename(path)[:-4]
                    os.rename(os.path.join(merged, "cases", name), os.path.join(data, shard, "cases", name))


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
    parser.add_argument("--det-model", help="plate detector to measure instead of the shipped one")
    parser.add_argument("--corner-model", help="corner model to measure instead of the shipped one")
    parser.add_argument("--textdet-model", help="text detector to measure instead of the shipped one")
    parser.add_argument("--bin", default=BIN, help="folder of the built programs")
    parser.add_argument("--out", default=OUT, help="folder for the runs' output")
    parser.add_argument("--platebench", help="the platebench to measure (default: the one in --bin), e.g. a "
                        "script that starts it under an emulator")
    parser.add_argument("--shard-jobs", type=int, default=2,
                        help="plateshard run -j for the sharded figure (0: skip; skipped with --input-list)")
    parser.add_argument("--shard-frames", type=int, default=300, help="frames of the sharded figure's set")
    parser.add_argument("--shard-mode", default="frame")
    parser.add_argument("--merge-frames", type=int, default=100000,
                        help="frames of the merge figure (0: skip; skipped with --input-list)")
    parser.add_argument("--merge-shards", type=int, default=100)
    parser.add_argument("--only-shards", action="store_true", help="the sharded and merge figures alone")
    args = parser.parse_args()
    if args.rec_model:
        MODELS["ppocrv6_rec"] = os.path.abspath(args.rec_model)
    if args.det_model:
        MODELS["plate_det"] = os.path.abspath(args.det_model)
    if args.corner_model:
        MODELS["plate_corner"] = os.path.abspath(args.corner_model)
    if args.textdet_model:
        MODELS["ppocrv6_det"] = os.path.abspath(args.textdet_model)
    if args.modes is None:
        args.modes = "roi" if args.input_list else "roi,frame"
    if args.kana_plates is None:
        args.kana_plates = 0 if args.input_list else 100
    missing = [model(name) for name in MODELS if not os.path.exists(model(name))]
    if missing:
        print("bench/run: no model at %s" % ", ".join(missing))
        sys.exit(77)  # what a test runner counts as skipped
    os.makedirs(args.out, exist_ok=True)

    if args.only_shards:
        if args.shard_jobs > 0:
            run_sharded(args.shard_mode, args.shard_frames, args.seed, args.shard_jobs)
        if args.merge_frames > 0:
            run_merge(args.merge_frames, args.merge_shards)
        return

    if args.input_list:
        lists = {"roi": args.input_list, "frame": args.input_list}
    else:
        eval_dir = make_eval_set(args.frames, args.seed)
        lists = {"roi": os.path.join(eval_dir, "cases_roi.csv"), "frame": os.path.join(eval_dir, "cases_frame.csv")}
    for mode in args.modes.split(","):
        print(run_mode(mode, lists.get(mode, lists["frame"]), args).strip())
    if args.kana_plates > 0:
        run_kana_fallback(lists["roi"], args)
    if args.runs > 0:
        print("== runtime layer alone (RknnModel) against OpenCV dnn alone")
        for name in MODELS:
            if os.path.exists(model(name)):
                out = subprocess.run([os.path.join(args.bin, "runtime_bench"), model(name), str(args.runs)],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
                print(out.rstrip())
    if args.input_list:
        return
    if args.shard_jobs > 0:
        run_sharded(args.shard_mode, args.shard_frames, args.seed, args.shard_jobs)
    if args.merge_frames > 0:
        run_merge(args.merge_frames, args.merge_shards)


if __name__ == "__main__":
    main()
