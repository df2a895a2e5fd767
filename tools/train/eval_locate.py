#!/usr/bin/python3
"""Accuracy of the compiled corner regressor and plate detector on a
generated set (labels.jsonl of tools/synth/generate.py), run with OpenCV.

  eval_locate.py --set DIR [--limit N] [--det-model MODEL [MODEL ...]] [--no-corner]

"Plate boxed": the detector's best-scoring box overlaps the box it is
trained to give (the plate's outline grown by train_det.MARGIN on every
side) with an IoU of at least 0.5. A miss is "too big" when that box
holds the plate but is more than 3 times the target's area (a car front,
the whole picture), else "elsewhere"."""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402

import train_det  # noqa: E402

MODELS = os.path.join(common.REPO, "models", "rknn")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--set", required=True)
    ap.add_argument("--limit", type=int, default=200)
    ap.add_argument("--corner-model", default=os.path.join(MODELS, "plate_corner.rknn"))
    ap.add_argument("--det-model", nargs="+", default=[os.path.join(MODELS, "plate_det.rknn")])
    ap.add_argument("--no-corner", action="store_true", help="the detector only")
    args = ap.parse_args()
    labels = [json.loads(line) for line in open(os.path.join(args.set, "labels.jsonl"), encoding="utf-8")]
    labels = labels[:args.limit]
    corner_path = args.corner_model
    det_paths = args.det_model
    if os.path.exists(corner_path) and not args.no_corner:
        net = cv2.dnn.readNetFromONNX(corner_path)
        errs = []
        for lab in labels:
            roi = cv2.imread(lab["roi_path"])
            v = common.corner_model_points(net, roi)
            c = np.float32(lab["corners_roi"])
            span = np.float32([np.linalg.norm(c[1] - c[0]), np.linalg.norm(c[3] - c[0])])
            errs.append(np.abs(v - c) / span)
        e = np.stack(errs)
        print("corner: %d ROIs, mean |err| %.4f of plate size (x %.4f, y %.4f), p95 %.4f, worst %.4f"
              % (len(e), e.mean(), e[..., 0].mean(), e[..., 1].mean(), np.percentile(e.max(axis=(1, 2)), 95),
                 e.max()))
    scenes = None
    for det_path in det_paths:
        if not os.path.exists(det_path):
            continue
        if scenes is None:
            if not all(os.path.exists(lab["scene_path"]) for lab in labels):
                print("detector: skipped, the set has no scene pictures (made with --no-scenes?)")
                return
            scenes = [cv2.imread(lab["scene_path"]) for lab in labels]
        evaluate_detector(det_path, labels, scenes, len(det_paths) > 1)


def iou(a, b):
    ix = max(0.0, min(a[2], b[2]) - max(a[0], b[0]))
    iy = max(0.0, min(a[3], b[3]) - max(a[1], b[1]))
    inter = ix * iy
    union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter
    return inter / union if union > 0 else 0.0


SIZE_BINS = ((0, 80), (80, 160), (160, 100000))


def evaluate_detector(det_path, labels, scenes, named):
    net = cv2.dnn.readNetFromONNX(det_path)
    ious, contained, found, boxed, too_big = [], 0, 0, 0, 0
    by_size = {b: [0, 0] for b in SIZE_BINS}
    for lab, scene in zip(labels, scenes):
        h, w = scene.shape[:2]
        rgb = cv2.cvtColor(cv2.resize(scene, (320, 320)), cv2.COLOR_BGR2RGB)
        net.setInput(rgb.transpose(2, 0, 1)[None].astype(np.float32))
        rows = net.forward().reshape(-1, 6)
        r = rows[np.argmax(rows[:, 1])]
        g = np.float32(lab["plate_box"])
        pw = g[2] - g[0]
        size_bin = next(b for b in SIZE_BINS if b[0] <= pw < b[1])
        by_size[size_bin][1] += 1
        if r[1] < 0.25:
            ious.append(0.0)
            continue
        found += 1
        b = np.float32([r[2] * w, r[3] * h, r[4] * w, r[5] * h])
        ious.append(iou(b, g))
        inside = bool(b[0] <= g[0] + 2 and b[1] <= g[1] + 2 and b[2] >= g[2] - 2 and b[3] >= g[3] - 2)
        contained += inside
        t = train_det.grow_box(g, w, h)
        if iou(b, t) >= 0.5:
            boxed += 1
            by_size[size_bin][0] += 1
        elif inside and (b[2] - b[0]) * (b[3] - b[1]) > 3.0 * (t[2] - t[0]) * (t[3] - t[1]):
            too_big += 1
    n = len(labels)
    name = (" " + os.path.basename(det_path)) if named else ""
    print("plate det%s: %d scenes, found %.3f, mean IoU with the plate %.3f, plate inside box %.3f"
          % (name, n, found / n, float(np.mean(ious)), contained / n))
    sizes = ", ".join("%s px %d/%d" % ("%d-%d" % b if b[1] < 100000 else "%d+" % b[0], k, m)
                      for b, (k, m) in by_size.items())
    print("  plate boxed %d/%d (%.1f %%); misses: too big %d, elsewhere or none %d; by plate width: %s"
          % (boxed, n, 100.0 * boxed / n, too_big, n - boxed - too_big, sizes))


if __name__ == "__main__":
    main()
