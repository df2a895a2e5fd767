#!/usr/bin/python3
"""End-to-end check of the compiled models on a generated set (the folder
that tools/synth/generate.py writes), with a Python model of the reader:
plate detector (frame mode), corners, 320x96 rectification, the five
variants read at the four fixed areas (and at the text detector's boxes
with --text-det), field voting, and the kana fallback when no kana is voted.

  eval_plate.py --set DIR [--mode roi|frame] [--limit N] [--text-det]"""
import argparse
import collections
import json
import math
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
sys.path.insert(0, os.path.join(common.REPO, "tools"))
import plate_fields  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402

import rec_data  # noqa: E402
from eval_rec import ctc_greedy  # noqa: E402

MODELS = os.path.join(common.REPO, "models", "rknn")


class Reader:
    def __init__(self, chars, use_text_det, text_det_path=None):
        self.chars = chars
        self.rec = cv2.dnn.readNetFromONNX(os.path.join(MODELS, "ppocrv6_rec.rknn"))
        self.corner = cv2.dnn.readNetFromONNX(os.path.join(MODELS, "plate_corner.rknn"))
        det_path = os.path.join(MODELS, "plate_det.rknn")
        self.det = cv2.dnn.readNetFromONNX(det_path) if os.path.exists(det_path) else None
        text_det_path = text_det_path or os.path.join(MODELS, "ppocrv6_det.rknn")
        self.text_det = cv2.dnn.readNetFromONNX(text_det_path) if use_text_det else None
        self.kana_classes = [(i + 1, c) for i, c in enumerate(chars) if c in plate_fields.KANA]

    def run(self, net, rgb):
        net.setInput(rgb.transpose(2, 0, 1)[None].astype(np.float32))
        return net.forward()

    def logits(self, crop):
        out = self.run(self.rec, rec_data.rec_input(crop))
        return out.reshape(-1, out.shape[-1])

    def read(self, crop):
        return ctc_greedy(self.logits(crop), self.chars)

    def read_kana_constrained(self, crop):
        lg = self.logits(crop)
        prev, text = -1, ""
        for row in lg:
            best, val = 0, row[0]
            for c, s in self.kana_classes:
                if row[c] > val:
                    best, val = c, row[c]
            if best != 0 and best != prev:
                text += self.chars[best - 1]
            prev = best
        k = plate_fields.find_hiragana_kana(text)
        if k:
            return k
        scores = {}
        for c, s in self.kana_classes:
            scores[s] = max(scores.get(s, -1e30), float(np.max(lg[:, c] - lg[:, 0])))
        best, val = "", -1e30
        for s in sorted(scores, key=lambda v: v.encode()):
            if scores[s] > val:
                best, val = s, scores[s]
        return best

    def detect(self, scene):
        h, w = scene.shape[:2]
        rgb = cv2.cvtColor(cv2.resize(scene, (320, 320)), cv2.COLOR_BGR2RGB)
        rows = self.run(self.det, rgb).reshape(-1, 6)
        best = None
        for r in rows:
            s = r[1]
            if s < 0.25:
                continue
            x1, y1 = math.floor(min(r[2], r[4]) * w), math.floor(min(r[3], r[5]) * h)
            x2, y2 = math.ceil(max(r[2], r[4]) * w), math.ceil(max(r[3], r[5]) * h)
            x1, y1 = max(0, min(w - 1, x1)), max(0, min(h - 1, y1))
            x2, y2 = max(0, min(w - 1, x2)), max(0, min(h - 1, y2))
            if x2 - x1 + 1 > 9 and y2 - y1 + 1 > 9 and (best is None or s > best[0]):
                best = (s, x1, y1, x2 - x1 + 1, y2 - y1 + 1)
        if best is None:
            return scene
        _, x, y, bw, bh = best
        return scene[y:min(h, y + bh), x:min(w, x + bw)].copy()

    def corners(self, roi):
        return common.corner_model_points(self.corner, roi)

    def text_boxes(self, img):
        rgb = cv2.cvtColor(cv2.resize(img, (640, 640)), cv2.COLOR_BGR2RGB)
        prob = self.run(self.text_det, rgb).reshape(-1)
        side = int(math.isqrt(prob.size))
        m = prob.reshape(side, side)
        if m.min() < -0.01 or m.max() > 1.01:
            m = 1.0 / (1.0 + np.exp(-m))
        mask = (m > 0.3).astype(np.uint8) * 255
        mask = cv2.morphologyEx(mask, cv2.MORPH_CLOSE, cv2.getStructuringElement(cv2.MORPH_RECT, (5, 3)))
        cs, _ = cv2.findContours(mask, cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_SIMPLE)
        H, W = img.shape[:2]
        fx, fy = np.float32(W) / side, np.float32(H) / side
        boxes = []
        for c in cs:
            if cv2.contourArea(c) < 20.0:
                continue
            x, y, w, h = cv2.boundingRect(c)
            x, y = math.floor(x * fx) - 5, math.floor(y * fy) - 4
            w, h = math.ceil(w * fx) + 10, math.ceil(h * fy) + 8
            x, y = max(0, x), max(0, y)
            w, h = min(w, W - x), min(h, H - y)
            if w > 7 and h > 7:
                boxes.append((x, y, w, h))
        boxes.sort(key=lambda b: (b[1] + b[3] // 2) // 13 * 10000 + b[0])
        return boxes[:16]

    def ocr(self, plate):
        texts = []
        for name in rec_data.PLATE_VARIANTS:
            img, _ = rec_data.plate_variant(plate, name)
            if self.text_det is not None:
                for k, (x, y, w, h) in enumerate(self.text_boxes(img)):
                    texts.append((name + "_det_crop_%d" % k, self.read(img[y:y + h, x:x + w])))
            for tag, (l, t, r, b) in rec_data.FIXED.items():
                x, y, w, h = rec_data.crop_ratio(img, l, t, r, b)
                texts.append((name + "_" + tag, self.read(img[y:y + h, x:x + w])))
        return [(s, t.strip()) for s, t in texts if t.strip()]

    def kana_fallback(self, rect, roi):
        direct, constrained = collections.Counter(), collections.Counter()
        areas = [("rect_kana_left_lower_wide", rect, rec_data.KANA_AREAS[0]),
                 ("roi_kana_left_lower_wide", roi, rec_data.KANA_AREAS[0])]
        narrow = ["narrow_00_18", "narrow_00_22", "narrow_02_26", "narrow_low"]
        areas += [("rect_kana_" + n, rect, a) for n, a in zip(narrow, rec_data.KANA_AREAS[1:])]
        areas += [("roi_kana_" + n, roi, a) for n, a in zip(narrow, rec_data.KANA_AREAS[1:])]
        for area, src, (l, t, r, b) in areas:
            x, y, w, h = rec_data.crop_ratio(src, l, t, r, b)
            crop = src[y:y + h, x:x + w]
            for v in rec_data.KANA_VARIANTS:
                name = area + "_" + v
                img = rec_data.kana_variant(crop, v)
                wgt = 1 + ("roi_" in name) + 3 * ("narrow" in name) + 2 * ("gray_up5x" in name) \
                    + 2 * ("gray_up8x" in name) + ("clahe_up5x" in name) + ("otsu" in name)
                text = self.read(img)
                k = plate_fields.find_hiragana_kana(text)
                if not k and ("愛" in text or "爱" in text):
                    k = "あ"
                if k:
                    direct[k] += wgt + 10
                kc = self.read_kana_constrained(img)
                if kc:
                    constrained[kc] += wgt
        for table in (direct, constrained):
            best, val = "", 0
            for key in sorted(table, key=lambda v: v.encode()):
                if table[key] > val:
                    best, val = key, table[key]
            if best:
                return best
        return ""


def compose(fields):
    return plate_fields.compose_plate_text(*(fields[k] for k in plate_fields.FIELD_NAMES))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--set", required=True)
    ap.add_argument("--mode", default="roi", choices=("roi", "frame"))
    ap.add_argument("--limit", type=int, default=100)
    ap.add_argument("--text-det", action="store_true")
    ap.add_argument("--text-det-model")
    ap.add_argument("--true-corners", action="store_true", help="roi mode with the labelled corners")
    ap.add_argument("--mask-kana", action="store_true", help="drop the kana votes to exercise the fallback")
    ap.add_argument("--dict")
    ap.add_argument("--words")
    ap.add_argument("--show", type=int, default=10)
    args = ap.parse_args()
    chars = common.load_dict(common.dict_path(args.dict))
    words_path = args.words or os.path.join(os.path.dirname(common.dict_path(args.dict)), "region_words.txt")
    words = common.load_dict(words_path)
    reader = Reader(chars, args.text_det, args.text_det_model)
    labels = [json.loads(line) for line in open(os.path.join(args.set, "labels.jsonl"), encoding="utf-8")]
    labels = labels[:args.limit]
    stats = collections.Counter()
    shown = 0
    t0 = time.time()
    for lab in labels:
        img = cv2.imread(lab["scene_path"] if args.mode == "frame" else lab["roi_path"], cv2.IMREAD_COLOR)
        roi = reader.detect(img) if args.mode == "frame" else img
        corners = np.float32(lab["corners_roi"]) if args.true_corners else reader.corners(roi)
        dst = np.float32([[0, 0], [319, 0], [319, 95], [0, 95]])
        rect = cv2.warpPerspective(roi, cv2.getPerspectiveTransform(corners, dst), (320, 96),
                                   flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)
        texts = reader.ocr(rect)
        fields = plate_fields.parse_jp_plate(texts, words)._asdict()
        if args.mask_kana:
            fields["kana"] = ""
        used_fallback = False
        if not fields["kana"]:
            used_fallback = True
            fields["kana"] = reader.kana_fallback(rect, roi)
            stats["fallback"] += 1
            stats["fallback_kana_ok"] += fields["kana"] == lab["fields"]["kana"]
        got = compose(fields).replace(" ", "")
        want = lab["expected"].replace(" ", "")
        stats["frames"] += 1
        stats["correct"] += got == want
        for k in plate_fields.FIELD_NAMES:
            stats[k + "_ok"] += fields[k] == lab["fields"][k]
        if got != want and shown < args.show:
            shown += 1
            print("MISS %s want %s got %s%s" % (os.path.basename(lab["roi_path"]), lab["expected"], compose(fields),
                                                 " (fallback)" if used_fallback else ""))
    n = max(1, stats["frames"])
    print("mode %s frames %d  correct %.3f  region %.3f class %.3f kana %.3f serial %.3f  (%.2f s/frame)"
          % (args.mode, n, stats["correct"] / n, stats["region_ok"] / n, stats["class_no_ok"] / n, stats["kana_ok"] / n,
             stats["serial_ok"] / n, (time.time() - t0) / n))
    if stats["fallback"]:
        print("kana fallback used %d times, right kana %.3f" % (stats["fallback"],
                                                                 stats["fallback_kana_ok"] / stats["fallback"]))


if __name__ == "__main__":
    main()
