#!/usr/bin/python3
"""Trains the plate-corner regressor (ROI stretched to 256x128 -> tl, tr, br,
bl as eight fractions of the ROI) and compiles it to
models/rknn/plate_corner.rknn.

  train_corner.py --bank DIR [--minutes 40] [--out FILE]"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402
import torch  # noqa: E402

import nets  # noqa: E402
import platebank  # noqa: E402
import rec_data  # noqa: E402

IN_W, IN_H = 256, 128


def recut(roi, corners, rng):
    """A new cut around the plate with other margins, as another detector
    box would give; sides beyond the ROI are filled by edge replication."""
    x0, y0 = corners.min(0)
    x1, y1 = corners.max(0)
    w, h = x1 - x0, y1 - y0
    m = rng.uniform(-0.01, 0.3, 4)
    nx0, ny0 = int(np.floor(x0 - m[0] * w)), int(np.floor(y0 - m[1] * h))
    nx1, ny1 = int(np.ceil(x1 + m[2] * w)), int(np.ceil(y1 + m[3] * h))
    H, W = roi.shape[:2]
    pad = [max(0, -ny0), max(0, ny1 - H), max(0, -nx0), max(0, nx1 - W)]
    if any(pad):
        roi = cv2.copyMakeBorder(roi, pad[0], pad[1], pad[2], pad[3], cv2.BORDER_REPLICATE)
        nx0 += pad[2]
        nx1 += pad[2]
        ny0 += pad[0]
        ny1 += pad[0]
        corners = corners + np.float32([pad[2], pad[0]])
    return roi[ny0:ny1, nx0:nx1], corners - np.float32([nx0, ny0])


def warp(roi, corners, rng):
    """Another view of the same ROI: a small rotation and perspective change,
    so that the corner positions vary more than the rendered bank does."""
    h, w = roi.shape[:2]
    src = np.float32([[0, 0], [w, 0], [w, h], [0, h]])
    angle = np.deg2rad(rng.uniform(-7, 7))
    c, s = np.cos(angle), np.sin(angle)
    centre = np.float32([w, h]) * 0.5
    rot = (src - centre) @ np.float32([[c, s], [-s, c]]) + centre
    dst = rot + rng.uniform(-0.07, 0.07, (4, 2)).astype(np.float32) * np.float32([w, h])
    m = cv2.getPerspectiveTransform(src, dst.astype(np.float32))
    out = cv2.warpPerspective(roi, m, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)
    moved = cv2.perspectiveTransform(corners.reshape(-1, 1, 2), m).reshape(-1, 2)
    inside = (moved >= 0).all() and (moved[:, 0] < w).all() and (moved[:, 1] < h).all()
    return (out, moved.astype(np.float32)) if inside else (roi, corners)


def sample(rec, rng, augment=True):
    roi = cv2.imdecode(np.frombuffer(rec["roi_jpg"], np.uint8), cv2.IMREAD_COLOR)
    corners = np.asarray(rec["corners_roi"], np.float32).copy()
    if augment and rng.random() < 0.5:
        roi, corners = warp(roi, corners, rng)
    if augment and rng.random() < 0.6:
        roi, corners = recut(roi, corners, rng)
    if augment:
        roi = rec_data.photometric(roi, rng)
    h, w = roi.shape[:2]
    img = cv2.cvtColor(cv2.resize(roi, (IN_W, IN_H), interpolation=cv2.INTER_LINEAR), cv2.COLOR_BGR2RGB)
    target = (corners / np.float32([w, h])).reshape(-1)
    return img, target


def batch(records, rng, n, augment=True):
    xs, ys = zip(*(sample(records[rng.integers(len(records))], rng, augment) for _ in range(n)))
    x = torch.from_numpy(np.stack(xs).transpose(0, 3, 1, 2).astype(np.float32))
    return x, torch.from_numpy(np.stack(ys).astype(np.float32))


def heat_target(y, grid_h, grid_w, sigma=1.0):
    """Gaussian bumps (sum 1) around the true corners on the heat-map grid."""
    n = y.shape[0]
    pts = y.reshape(n, 4, 2) * torch.tensor([grid_w, grid_h], dtype=torch.float32) - 0.5
    gy = torch.arange(grid_h, dtype=torch.float32).view(1, 1, grid_h, 1)
    gx = torch.arange(grid_w, dtype=torch.float32).view(1, 1, 1, grid_w)
    d2 = (gx - pts[..., 0, None, None]) ** 2 + (gy - pts[..., 1, None, None]) ** 2
    t = torch.exp(-d2 / (2 * sigma * sigma)).reshape(n, 4, -1)
    return t / t.sum(2, keepdim=True).clamp_min(1e-6)


def loss_fn(model, x, y):
    """Corner distance, plus a small heat-map term that keeps each map peaked."""
    h = model.heat(x)
    logp = torch.log_softmax(h.reshape(h.shape[0], 4, -1), 2)
    pred = torch.matmul(logp.exp(), model.grid).reshape(h.shape[0], 8)
    ce = -(heat_target(y, h.shape[2], h.shape[3]) * logp).sum(2).mean()
    return torch.nn.functional.smooth_l1_loss(pred, y, beta=0.01) + 0.002 * ce


def export(model, out, tmp_dir):
    common.export_compiled(model, out, tmp_dir, "corner", IN_W, IN_H, "corners")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bank", required=True)
    common.trainer_args(ap, minutes=40.0, batch=32, lr=2e-3, seed=11, out="plate_corner.rknn", ckpt="corner.pt",
                        snapshots=True)
    ap.add_argument("--resume", action="store_true", help="start from --ckpt's weights with a fresh schedule")
    ap.add_argument("--from-compiled",
                    help="start from a compiled corner model's weights instead of --ckpt (fresh schedule)")
    args = ap.parse_args()
    common.seed_all(args.seed)
    os.makedirs(os.path.dirname(args.ckpt), exist_ok=True)
    model = nets.CornerNet()
    if args.resume:
        common.resume(model, args.ckpt)
    rng = np.random.default_rng(args.seed)
    bank = {}
    bank["records"], bank["shards"] = platebank.load_shards(args.bank)
    if args.from_compiled:
        model = nets.corner_from_compiled(args.from_compiled)
        calib_rng = np.random.default_rng(args.seed + 1)
        nets.recalibrate_batchnorm(model, (batch(bank["records"], calib_rng, args.batch)[0] for _ in range(30)))
        print("started from %s" % args.from_compiled, flush=True)
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    model.train()

    def step():
        x, y = batch(bank["records"], rng, args.batch)
        loss = loss_fn(model, x, y)
        common.backward_step(opt, loss)
        return {"loss": loss.item()}

    def reload():
        if len(os.listdir(args.bank)) > bank["shards"]:
            bank["records"], bank["shards"] = platebank.load_shards(args.bank)

    def checkpoint(steps, minutes):
        torch.save({"model": model.state_dict(), "step": steps}, args.ckpt)
        export(model, args.out, os.path.dirname(args.ckpt))
        if args.keep_snapshots:
            common.keep_snapshot(args.out, minutes)

    common.train_for(args.minutes, opt, lambda frac: common.cosine_lr(args.lr, frac), step, checkpoint,
                     args.export_every, stop=args.stop_after, every=[(300, reload)])


if __name__ == "__main__":
    main()
