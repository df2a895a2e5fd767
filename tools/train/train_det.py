#!/usr/bin/python3
"""Trains the plate detector (scene stretched to 320x320 -> 400 rows of
class, score, x1, y1, x2, y2, one per cell of a 20x20 grid) and compiles it
to models/rknn/plate_det.rknn.  The box it learns is the plate's outline
grown by a margin on every side, so the cut keeps the whole plate for the
corner regressor.

  train_det.py --bank DIR [--minutes 30] [--out FILE]"""
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


def target_box(rec):
    x0, y0, x1, y1 = [float(v) for v in rec["plate_box"]]
    w, h = x1 - x0, y1 - y0
    return np.array([max(0.0, x0 - MARGIN * w), max(0.0, y0 - MARGIN * h),
                     min(1.0, x1 + MARGIN * w), min(1.0, y1 + MARGIN * h)], np.float32)


def sample(rec, rng, augment=True):
    img = cv2.imdecode(np.frombuffer(rec["scene320_jpg"], np.uint8), cv2.IMREAD_COLOR)
    box = target_box(rec)
    if augment:
        if rng.random() < 0.5:
            # zoom into a random window that still holds the whole box
            s = rng.uniform(0.6, 1.0)
            wx0 = rng.uniform(max(0.0, box[2] - s), min(box[0], 1.0 - s)) if box[2] - box[0] < s else None
            wy0 = rng.uniform(max(0.0, box[3] - s), min(box[1], 1.0 - s)) if box[3] - box[1] < s else None
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
    return cv2.cvtColor(img, cv2.COLOR_BGR2RGB), box


def batch(records, rng, n, augment=True):
    xs, ys = zip(*(sample(records[rng.integers(len(records))], rng, augment) for _ in range(n)))
    x = torch.from_numpy(np.stack(xs).transpose(0, 3, 1, 2).astype(np.float32))
    return x, torch.from_numpy(np.stack(ys))


def det_loss(model, x, boxes):
    raw = model.raw(x)
    n, _, g, _ = raw.shape
    cx = (boxes[:, 0] + boxes[:, 2]) * 0.5 * g
    cy = (boxes[:, 1] + boxes[:, 3]) * 0.5 * g
    col = cx.clamp(0, g - 1e-3).floor().long()
    row = cy.clamp(0, g - 1e-3).floor().long()
    obj = torch.zeros(n, g, g)
    obj[torch.arange(n), row, col] = 1.0
    logits = raw[:, 0]
    weight = torch.ones_like(obj) + obj * 20.0
    l_obj = F.binary_cross_entropy_with_logits(logits, obj, weight=weight)
    rows = model.decode(raw).reshape(n, g, g, 6)
    pred = rows[torch.arange(n), row, col, 2:6]
    l_box = F.smooth_l1_loss(pred, boxes, beta=0.02) * 20.0
    # the best-scoring cell must be the one that holds the box centre
    return l_obj + l_box, l_obj.item(), l_box.item()


def export(model, out, tmp_dir):
    onnx_path = os.path.join(tmp_dir, "det.onnx")
    common.export_onnx(model, torch.zeros(1, 3, SIZE, SIZE), onnx_path, ["rows"])
    common.compile_model(onnx_path, out, SIZE, SIZE)
    model.train()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bank", required=True, nargs="+", help="one or more bank directories")
    ap.add_argument("--minutes", type=float, default=30.0)
    ap.add_argument("--batch", type=int, default=24)
    ap.add_argument("--lr", type=float, default=2e-3)
    ap.add_argument("--seed", type=int, default=13)
    ap.add_argument("--out", default=os.path.join(common.REPO, "models", "rknn", "plate_det.rknn"))
    ap.add_argument("--ckpt", default="/tmp/plate_train/det.pt")
    ap.add_argument("--export-every", type=float, default=10.0)
    ap.add_argument("--resume", action="store_true", help="start from --ckpt's weights with a fresh schedule")
    args = ap.parse_args()
    common.seed_all(args.seed)
    os.makedirs(os.path.dirname(args.ckpt), exist_ok=True)
    model = nets.PlateDetector(SIZE)
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    if args.resume and os.path.exists(args.ckpt):
        model.load_state_dict(torch.load(args.ckpt)["model"])
        print("resumed from %s" % args.ckpt, flush=True)
    rng = np.random.default_rng(args.seed)
    records, n_shards = platebank.load_banks(args.bank)
    timer = common.Timer()
    step, last_export, avg = 0, 0.0, None
    model.train()
    while timer.minutes() < args.minutes:
        frac = timer.minutes() / args.minutes
        lr = args.lr * (0.02 + 0.98 * 0.5 * (1 + np.cos(np.pi * min(1.0, frac))))
        for g in opt.param_groups:
            g["lr"] = lr
        x, boxes = batch(records, rng, args.batch)
        loss, lo, lb = det_loss(model, x, boxes)
        opt.zero_grad()
        loss.backward()
        opt.step()
        step += 1
        cur = np.array([lo, lb])
        avg = cur if avg is None else 0.98 * avg + 0.02 * cur
        if step % 50 == 0:
            print("step %d  %.1f min  lr %.5f  obj %.4f  box %.4f" % (step, timer.minutes(), lr, avg[0], avg[1]),
                  flush=True)
        if step % 300 == 0 and platebank.count_shards(args.bank) > n_shards:
            records, n_shards = platebank.load_banks(args.bank)
        if timer.minutes() - last_export >= args.export_every:
            torch.save({"model": model.state_dict(), "step": step}, args.ckpt)
            export(model, args.out, os.path.dirname(args.ckpt))
            last_export = timer.minutes()
    torch.save({"model": model.state_dict(), "step": step}, args.ckpt)
    export(model, args.out, os.path.dirname(args.ckpt))
    print("done: %d steps in %.1f min" % (step, timer.minutes()), flush=True)


if __name__ == "__main__":
    main()
