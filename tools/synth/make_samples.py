#!/usr/bin/python3
"""Write the small committed sample sets under samples/ (run from anywhere; paths are repo-relative).

samples/real_lpr/  ROI pictures and real_lpr_expected.csv, the reader's default case list
samples/scenes/    whole scenes and scenes_expected.csv, for the frame input mode
samples/hard/      ROI pictures of plates the reader cannot report exactly, hard_expected.csv
Each folder also gets labels.jsonl with the plate corners and text.
"""

import csv
import json
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import cv2  # noqa: E402

from synth import dataset, plategen  # noqa: E402

SETS = [
    # folder, case list, picture kind, group prefix, seed, hard, families of its groups, frames per group
    ("real_lpr", "real_lpr_expected.csv", "roi", "g", 101, False,
     ["private", "kei_private", "commercial", "rental"], 3),
    ("scenes", "scenes_expected.csv", "scene", "s", 202, False,
     ["private", "kei_commercial", "private", "kei_private"], 3),
    ("hard", "hard_expected.csv", "roi", "h", 303, True,
     [("private", "serial_short"), ("kei_private", "class_letter"), ("private", "hiragana_region"),
      ("commercial", "kana_wo")], 2),
]


def pick_groups(seed, hard, families):
    """Group indices whose plates have the wanted families (or (family, hard reason)), in order."""
    picked, g = [], 0
    for want in families:
        fam, reason = want if isinstance(want, tuple) else (want, None)
        while True:
            plate_plan = plategen.random_plate_spec(dataset.group_rng(seed, g, hard), hard=hard)
            g += 1
            if plate_plan["family"] == fam and (reason is None or plate_plan["hard_reasons"][:1] == [reason]):
                picked.append(g - 1)
                break
    return picked


def write_sample_set(root, folder, list_name, kind, prefix, seed, hard, families, frames):
    base = os.path.join("samples", folder)
    out = os.path.join(root, base)
    if os.path.isdir(os.path.join(out, "images")):
        shutil.rmtree(os.path.join(out, "images"))
    os.makedirs(os.path.join(out, "images"), exist_ok=True)
    rows, labels, total = [], [], 0
    for n, g in enumerate(pick_groups(seed, hard, families)):
        group_id = "%s%03d" % (prefix, n + 1)
        for k, fr in enumerate(dataset.render_group(seed, g, frames, hard=hard)):
            rel = "%s/images/%s_f%d.jpg" % (base, group_id, k + 1)
            img = fr["roi"] if kind == "roi" else fr["scene"]
            cv2.imwrite(os.path.join(root, rel), img, [cv2.IMWRITE_JPEG_QUALITY, dataset.JPEG_QUALITY])
            total += os.path.getsize(os.path.join(root, rel))
            rows.append([rel, fr["plate_plan"]["expected"], group_id])
            rec = dataset.label_record(fr, rel if kind == "scene" else None, rel if kind == "roi" else None,
                                       group_id, k + 1)
            labels.append(rec)
    with open(os.path.join(out, list_name), "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, lineterminator="\n")
        w.writerow(["image_path", "expected", "group_id"])
        w.writerows(rows)
    with open(os.path.join(out, "labels.jsonl"), "w", encoding="utf-8") as f:
        for rec in labels:
            f.write(json.dumps(rec, ensure_ascii=False) + "\n")
    print("%s/%s: %d images, %d groups, %.0f kB" % (base, list_name, len(rows), len(families), total / 1024.0))


def main():
    cv2.setNumThreads(1)
    for s in SETS:
        write_sample_set(plategen.REPO_ROOT, *s)


if __name__ == "__main__":
    main()
