#!/usr/bin/python3
"""Trains the text detector (rectified plate stretched to 640x640 -> 160x160
probability map of the text boxes: the upper row, the kana and the serial)
and compiles it to models/rknn/ppocrv6_det.rknn.

  train_textdet.py --bank DIR [DIR ...] [--minutes 20] [--out FILE]"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402
import torch  # noqa: E402
import torch.nn.functional as F  # noqa: E402

import nets  # noqa: E402
import platebank  # noqa: E402
import rec_data  # noqa: E402

IN = 640
MAP = 80


def text_boxes(view):
    b = view.rect_boxes
    out = []
    upper = rec_data.union(b, rec_data.UPPER)
    if upper is not None:
        out.append(upper)
    for k in rec_data.LOWER:
        if k in b:
            out.append(b[k])
    return out


def sample(rec, rng):
    view = rec_data.PlateView(rec, rng, rng.choice([0.004, 0.01, 0.02]))
    base = rec_data.photometric(view.rect, rng) if rng.random() < 0.6 else view.rect
    name = rec_data.PLATE_VARIANTS[rng.integers(len(rec_data.PLATE_VARIANTS))]
    img, scale = rec_data.plate_variant(base, name)
    h, w = img.shape[:2]
    target = np.zeros((MAP, MAP), np.float32)
    for x0, y0, x1, y1 in text_boxes(view):
        sx, sy = MAP / float(w) * scale, MAP / float(h) * scale
        a, b = int(round(x0 * sx)), int(round(y0 * sy))
        c, d = int(round(x1 * sx)), int(round(y1 * sy))
        target[max(0, b):max(0, d), max(0, a):max(0, c)] = 1.0
    rgb = cv2.cvtColor(cv2.resize(img, (IN, IN), interpolation=cv2.INTER_LINEAR), cv2.COLOR_BGR2RGB)
    return rgb, target


def batch(records, rng, n):
    xs, ys = zip(*(sample(records[rng.integers(len(records))], rng) for _ in range(n)))
    x = torch.from_numpy(np.stack(xs).transpose(0, 3, 1, 2).astype(np.float32))
    return x, torch.from_numpy(np.stack(ys))[:, None]


def export(model, out, tmp_dir):
    common.export_compiled(model, out, tmp_dir, "textdet", IN, IN, "prob")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bank", required=True, nargs="+")
    common.trainer_args(ap, minutes=20.0, batch=12, lr=3e-3, seed=17, out="ppocrv6_det.rknn", ckpt="textdet.pt",
                        snapshots=True)
    args = ap.parse_args()
    common.seed_all(args.seed)
    os.makedirs(os.path.dirname(args.ckpt), exist_ok=True)
    model = nets.TextDetector()
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    rng = np.random.default_rng(args.seed)
    records, _ = platebank.load_banks(args.bank)
    model.train()

    def step():
        x, y = batch(records, rng, args.batch)
        logits = model.logits(x)
        p = torch.sigmoid(logits)
        bce = F.binary_cross_entropy_with_logits(logits, y)
        dice = 1.0 - (2 * (p * y).sum((1, 2, 3)) + 1) / (p.sum((1, 2, 3)) + y.sum((1, 2, 3)) + 1)
        loss = bce + dice.mean()
        common.backward_step(opt, loss)
        return {"loss": loss.item()}

    def checkpoint(steps, minutes):
        torch.save({"model": model.state_dict(), "step": steps}, args.ckpt)
        export(model, args.out, os.path.dirname(args.ckpt))
        if args.keep_snapshots:
            common.keep_snapshot(args.out, minutes)

    common.train_for(args.minutes, opt, lambda frac: common.cosine_lr(args.lr, frac), step, checkpoint,
                     args.export_every, stop=args.stop_after)


if __name__ == "__main__":
    main()
