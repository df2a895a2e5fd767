#!/usr/bin/python3
"""Exact-match accuracy of a compiled recogniser per crop kind, run with
OpenCV's dnn on a held-out bank, decoded greedily as the reader does.

  eval_rec.py --bank DIR [--model FILE] [--dict FILE] [--plates 200]"""
import argparse
import collections
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402

import platebank  # noqa: E402
import rec_data  # noqa: E402


def ctc_greedy(logits, chars):
    best = logits.argmax(-1)
    out, prev = [], -1
    for c in best:
        if c != 0 and c != prev and c - 1 < len(chars):
            out.append(chars[c - 1])
        prev = c
    return "".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bank", required=True)
    ap.add_argument("--model", default=os.path.join(common.REPO, "models", "rknn", "ppocrv6_rec.rknn"))
    ap.add_argument("--dict")
    ap.add_argument("--plates", type=int, default=200)
    ap.add_argument("--jitter", type=float, default=0.01)
    ap.add_argument("--show-errors", type=int, default=0)
    args = ap.parse_args()
    chars = common.load_dict(common.dict_path(args.dict))
    net = cv2.dnn.readNetFromONNX(args.model)
    records, _ = platebank.load_shards(args.bank)
    records = records[:args.plates]
    rng = np.random.default_rng(123)
    hits = collections.Counter()
    total = collections.Counter()
    errors = []
    for rec in records:
        view = rec_data.PlateView(rec, rng, args.jitter)
        for kind in rec_data.CROP_KINDS:
            variants = rec_data.KANA_VARIANTS if kind.endswith("kana") else rec_data.PLATE_VARIANTS
            variant = variants[rng.integers(len(variants))]
            crop, target, _ = rec_data.sample_crop(view, rng, kind=kind, variant=variant)
            out = common.cv2_run(net, [rec_data.rec_input(crop)])[0]
            text = ctc_greedy(out.reshape(-1, out.shape[-1]), chars)
            tag = kind + ("/hard" if rec["hard"] else "")
            total[tag] += 1
            if text == target:
                hits[tag] += 1
            elif len(errors) < args.show_errors:
                errors.append((kind, variant, target, text))
    for tag in sorted(total):
        print("%-18s %5d  exact %.3f" % (tag, total[tag], hits[tag] / total[tag]))
    n = sum(v for k, v in total.items() if "/hard" not in k)
    h = sum(v for k, v in hits.items() if "/hard" not in k)
    print("all (not hard)     %5d  exact %.3f" % (n, h / max(1, n)))
    for e in errors:
        print("  %s %s want %r got %r" % e)


if __name__ == "__main__":
    main()
