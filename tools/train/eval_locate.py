#!/usr/bin/python3
"""Accuracy of the compiled corner regressor and plate detector on a
generated set (labels.jsonl of tools/synth/generate.py), run with OpenCV.

  eval_locate.py --set DIR [--limit N]"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402

MODELS = os.path.join(common.REPO, "models", "rknn")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--set", required=True)
    ap.add_argument("--limit", type=int, default=200)
    ap.add_argument("--corner-model", default=os.path.join(MODELS, "plate_corner.rknn"))
    ap.add_argument("--det-model", default=os.path.join(MODELS, "plate_det.rknn"))
    args = ap.parse_args()
    labels = [json.loads(line) for line in open(os.path.join(args.set, "labels.jsonl"), encoding="utf-8")]
    labels = labels[:args.limit]
    corner_path = args.corner_model
    det_path = args.det_model
    if os.path.exists(corner_path):
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
    if os.path.exists(det_path):
        net = cv2.dnn.readNetFromONNX(det_path)
        ious, contained, found = [], 0, 0
        for lab in labels:
            scene = cv2.imread(lab["scene_path"])
            h, w = scene.shape[:2]
            rgb = cv2.cvtColor(cv2.resize(scene, (320, 320)), cv2.COLOR_BGR2RGB)
            net.setInput(rgb.transpose(2, 0, 1)[None].astype(np.float32))
            rows = net.forward().reshape(-1, 6)
            r = rows[np.argmax(rows[:, 1])]
            if r[1] < 0.25:
                ious.append(0.0)
                continue
            found += 1
            b = np.float32([r[2] * w, r[3] * h, r[4] * w, r[5] * h])
            g = np.float32(lab["plate_box"])
            ix = max(0.0, min(b[2], g[2]) - max(b[0], g[0]))
            iy = max(0.0, min(b[3], g[3]) - max(b[1], g[1]))
            inter = ix * iy
            ious.append(inter / ((b[2] - b[0]) * (b[3] - b[1]) + (g[2] - g[0]) * (g[3] - g[1]) - inter))
            contained += bool(b[0] <= g[0] + 2 and b[1] <= g[1] + 2 and b[2] >= g[2] - 2 and b[3] >= g[3] - 2)
        n = len(labels)
        print("plate det: %d scenes, found %.3f, mean IoU with the plate %.3f, plate inside box %.3f"
              % (n, found / n, float(np.mean(ious)), contained / n))


if __name__ == "__main__":
    main()
