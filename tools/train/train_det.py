#!/usr/bin/python3
"""Trains the plate detector (scene stretched to 320x320 -> 400 rows of
class, score, x1, y1, x2, y2, one per cell of a 20x20 grid) and compiles it
to models/rknn/plate_det.rknn.  The box it learns is the plate's outline
grown by a margin on every side, so the cut keeps the whole plate for the
corner regressor.

  train_det.py --bank DIR [DIR ...] [--bank-weights W ...] [--minutes 30] [--out FILE]
               [--resume | --from-compiled MODEL] [--rank-weight R] [--keep-snapshots]

Scenes without a plate (platebank.py --negative-frac) train every cell's score towards zero."""
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

SIZE = 320
MARGIN = 0.12


def grow_box(box, w=1.0, h=1.0):
    """The box the detector learns for a plate box: grown by MARGIN on every side, clamped to a w x h picture."""
    x0, y0, x1, y1 = [float(v) for v in box]
    bw, bh = x1 - x0, y1 - y0
    return np.array([max(0.0, x0 - MARGIN * bw), max(0.0, y0 - MARGIN * bh),
                     min(w, x1 + MARGIN * bw), min(h, y1 + MARGIN * bh)], np.float32)


def target_box(rec):
    if rec.get("plate_box") is None:
        return None
    return grow_box(rec["plate_box"])


NO_BOX = np.full(4, np.nan, np.float32)


def sample(rec, rng, augment=True):
    """(RGB picture, target box); the box is NaN for a scene without a plate."""
    img = cv2.imdecode(np.frombuffer(rec["scene320_jpg"], np.uint8), cv2.IMREAD_COLOR)
    box = target_box(rec)
    empty = box is None
    if empty:
        box = np.float32([0.5, 0.5, 0.5, 0.5])  # any window holds nothing
    if augment:
        if rng.random() < 0.5:
            # zoom into a random window that still holds the whole box
            s = rng.uniform(0.6, 1.0)
            wx0 = rng.uniform(max(0.0, box[2] - s), min(box[0], 1.0 - s)) if box[2] - box[0] < s else None
            wy0 = rng.uniform(max(0.0, box[3] - s), min(box[1], 1.0 - s)) if box[3] - box[1] < s else None
            if empty:
                wx0, wy0 = rng.uniform(0, 1.0 - s), rng.uniform(0, 1.0 - s)
            if wx0 is not None and wy0 is not None:
                x0, y0 = int(wx0 * SIZE), int(wy0 * SIZE)
                n = max(16, int(s * SIZE))
                img = cv2.resize(img[y0:y0 + n, x0:x0 + n], (SIZE, SIZE), interpolation=cv2.INTER_LINEAR)
                box = (box - np.float32([x0, y0, x0, y0]) / SIZE) / (n / SIZE)
                box = np.clip(box, 0.0, 1.0)
        elif rng.random() < 0.4:
            # zoom out: the scene shrinks inside its smeared edges, so plates get smaller
            n = int(SIZE * rng.uniform(1.1, 1.8))
            ox, oy = int(rng.integers(0, n - SIZE + 1)), int(rng.integers(0, n - SIZE + 1))
            img = cv2.copyMakeBorder(img, oy, n - SIZE - oy, ox, n - SIZE - ox, cv2.BORDER_REPLICATE)
            img = cv2.resize(img, (SIZE, SIZE), interpolation=cv2.INTER_AREA)
            box = (box * SIZE + np.float32([ox, oy, ox, oy])) / n
        if rng.random() < 0.5:
            img = img[:, ::-1].copy()
            box = np.float32([1.0 - box[2], box[1], 1.0 - box[0], box[3]])
        img = rec_data.photometric(img, rng)
    return cv2.cvtColor(img, cv2.COLOR_BGR2RGB), (NO_BOX if empty else box)


def batch(banks, rng, n, augment=True, weights=None):
    """n samples; banks is a list of record lists, drawn by weights (default: by their sizes)."""
    if weights is None:
        weights = [len(b) for b in banks]
    p = np.asarray(weights, np.float64) / float(np.sum(weights))
    picks = []
    for _ in range(n):
        b = banks[int(rng.choice(len(banks), p=p))] if len(banks) > 1 else banks[0]
        picks.append(b[rng.integers(len(b))])
    xs, ys = zip(*(sample(r, rng, augment) for r in picks))
    x = torch.from_numpy(np.stack(xs).transpose(0, 3, 1, 2).astype(np.float32))
    return x, torch.from_numpy(np.stack(ys))


def det_loss(model, x, boxes, rank_weight=0.0):
    raw = model.raw(x)
    n, _, g, _ = raw.shape
    has = ~torch.isnan(boxes[:, 0])
    safe = torch.where(has[:, None], boxes, torch.full_like(boxes, 0.5))
    cx = (safe[:, 0] + safe[:, 2]) * 0.5 * g
    cy = (safe[:, 1] + safe[:, 3]) * 0.5 * g
    col = cx.clamp(0, g - 1e-3).floor().long()
    row = cy.clamp(0, g - 1e-3).floor().long()
    obj = torch.zeros(n, g, g)
    obj[torch.arange(n), row, col] = has.float()
    logits = raw[:, 0]
    weight = torch.ones_like(obj) + obj * 20.0
    l_obj = F.binary_cross_entropy_with_logits(logits, obj, weight=weight)
    loss = l_obj
    l_box = torch.zeros(())
    if has.any():
        rows = model.decode(raw).reshape(n, g, g, 6)
        pred = rows[torch.arange(n), row, col, 2:6]
        l_box = F.smooth_l1_loss(pred[has], boxes[has], beta=0.02) * 20.0
        loss = loss + l_box
        if rank_weight > 0:
            # the best-scoring cell must be the one that holds the box centre: a softmax over the cells
            target = (row * g + col)[has]
            loss = loss + rank_weight * F.cross_entropy(logits.reshape(n, -1)[has], target)
    return loss, l_obj.item(), l_box.item()


def export(model, out, tmp_dir):
    common.export_compiled(model, out, tmp_dir, "det", SIZE, SIZE, "rows")


def save(model, step, args, minutes):
    torch.save({"model": model.state_dict(), "step": step}, args.ckpt)
    export(model, args.out, os.path.dirname(args.ckpt))
    if args.keep_snapshots:
        common.keep_snapshot(args.out, minutes)


def load(args):
    banks, shards = [], 0
    for d in args.bank:
        part, n = platebank.load_banks([d], negatives=True)
        banks.append(part)
        shards += n
    return banks, shards


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bank", required=True, nargs="+", help="one or more bank directories")
    ap.add_argument("--bank-weights", type=float, nargs="+",
                    help="how often each bank is drawn from (default: by its number of scenes)")
    common.trainer_args(ap, minutes=30.0, batch=24, lr=2e-3, seed=13, out="plate_det.rknn", ckpt="det.pt",
                        snapshots=True)
    ap.add_argument("--resume", action="store_true", help="start from --ckpt's weights with a fresh schedule")
    ap.add_argument("--from-compiled", metavar="MODEL",
                    help="start from a compiled detector's weights (its batch-norm statistics measured again)")
    ap.add_argument("--rank-weight", type=float, default=0.0,
                    help="weight of a softmax over the cells that makes the plate's cell the best-scoring one")
    args = ap.parse_args()
    if args.bank_weights is not None and len(args.bank_weights) != len(args.bank):
        ap.error("--bank-weights needs one weight per --bank")
    common.seed_all(args.seed)
    os.makedirs(os.path.dirname(os.path.abspath(args.ckpt)), exist_ok=True)
    rng = np.random.default_rng(args.seed)
    banks, n_shards = load(args)
    print("bank scenes %s, without a plate %d" % ([len(b) for b in banks],
                                                  sum(r.get("negative", False) for b in banks for r in b)), flush=True)
    model = nets.PlateDetector(SIZE)
    if args.resume and os.path.exists(args.ckpt):
        common.resume(model, args.ckpt)
    elif args.from_compiled:
        model = nets.detector_from_compiled(args.from_compiled, SIZE)
        calib = np.random.default_rng(args.seed + 1)
        nets.recalibrate_batchnorm(model, (batch(banks, calib, args.batch, True, args.bank_weights)[0]
                                           for _ in range(40)))
        print("started from %s" % args.from_compiled, flush=True)
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    data = {"banks": banks, "shards": n_shards}
    model.train()

    def step():
        x, boxes = batch(data["banks"], rng, args.batch, True, args.bank_weights)
        loss, lo, lb = det_loss(model, x, boxes, args.rank_weight)
        common.backward_step(opt, loss)
        return {"obj": lo, "box": lb, "all": loss.item()}

    def reload():
        if platebank.count_shards(args.bank) > data["shards"]:
            data["banks"], data["shards"] = load(args)
            print("bank scenes now %s" % [len(b) for b in data["banks"]], flush=True)

    common.train_for(args.minutes, opt, lambda frac: common.cosine_lr(args.lr, frac), step,
                     lambda steps, minutes: save(model, steps, args, minutes), args.export_every,
                     stop=args.stop_after, every=[(300, reload)])


if __name__ == "__main__":
    main()
