#!/usr/bin/python3
"""Trains the CTC text recogniser (48x320 -> 1xTxC, T = 40 or 80) on crops of synthetic
plates and compiles it to models/rknn/ppocrv6_rec.rknn.

  train_rec.py --bank DIR [DIR ...] [--minutes 60] [--dict FILE] [--out FILE]

The class order is read from the OCR dictionary (class k = line k, class 0
is the CTC blank).  Several banks are read as one.  A bank may still be growing: new shards are picked up
as they appear.  A compiled model is written at every checkpoint."""
import argparse
import copy
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import numpy as np  # noqa: E402
import torch  # noqa: E402
import torch.nn.functional as F  # noqa: E402

import nets  # noqa: E402
import platebank  # noqa: E402
import rec_data  # noqa: E402


def encode(text, index):
    return [index[ch] for ch in text if ch in index]


def make_batch(records, rng, batch, index, views_per_batch=8, predicted_frac=0.0):
    imgs, targets, lengths = [], [], []
    per_view = (batch + views_per_batch - 1) // views_per_batch
    while len(imgs) < batch:
        rec = records[rng.integers(len(records))]
        jitter = rng.choice([0.004, 0.01, 0.02])
        view = rec_data.PlateView(rec, rng, jitter, use_predicted=rng.random() < predicted_frac)
        for _ in range(per_view):
            crop, text, _ = rec_data.sample_crop(view, rng)
            if crop.size == 0:
                continue
            ids = encode(text, index)
            imgs.append(rec_data.rec_input(crop))
            targets.extend(ids)
            lengths.append(len(ids))
    x = torch.from_numpy(np.stack(imgs[:batch]).transpose(0, 3, 1, 2).astype(np.float32))
    n = sum(lengths[:batch])
    return x, torch.tensor(targets[:n], dtype=torch.long), torch.tensor(lengths[:batch], dtype=torch.long)


def export(model, out, tmp_dir):
    common.export_compiled(model, out, tmp_dir, "rec", rec_data.REC_W, rec_data.REC_H, "logits")


def average_model(model):
    avg = copy.deepcopy(model)
    for p in avg.parameters():
        p.requires_grad_(False)
    return avg


def update_average(avg, model, decay):
    with torch.no_grad():
        for a, p in zip(avg.parameters(), model.parameters()):
            a.mul_(decay).add_(p.detach(), alpha=1.0 - decay)
        for a, b in zip(avg.buffers(), model.buffers()):
            if a.is_floating_point():
                a.mul_(decay).add_(b, alpha=1.0 - decay)
            else:
                a.copy_(b)


def save(model, ema, opt, step, args, minutes):
    """Checkpoints and compiles the exported weights (the average, if kept), which a later --resume starts from."""
    kept = ema if ema is not None else model
    torch.save({"model": kept.state_dict(), "opt": opt.state_dict(), "step": step, "steps": kept.steps}, args.ckpt)
    export(kept, args.out, os.path.dirname(args.ckpt))
    if args.keep_snapshots:
        common.keep_snapshot(args.out, minutes)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bank", required=True, nargs="+")
    common.trainer_args(ap, minutes=60.0, batch=48, lr=2e-3, seed=7, out="ppocrv6_rec.rknn", ckpt="rec.pt",
                        snapshots=True)
    ap.add_argument("--dict", help="OCR dictionary (default: <synth repo>/dict/ppocrv6_rec_dict.txt)")
    ap.add_argument("--synth", help="directory holding the synth package")
    ap.add_argument("--resume", action="store_true",
                    help="start from --ckpt's weights with a fresh schedule (fine-tuning)")
    ap.add_argument("--upper-boost", type=float, default=1.0,
                    help="weight multiplier of the crops that show the region name")
    ap.add_argument("--corner-model",
                    help="compiled corner model: rectify part of the views with its corners, as the reader does")
    ap.add_argument("--predicted-frac", type=float, default=0.5,
                    help="share of views rectified with --corner-model's corners")
    ap.add_argument("--width", type=float, default=1.0,
                    help="channel multiplier; a narrower --ckpt is widened to it on --resume")
    ap.add_argument("--from-compiled",
                    help="start from a compiled recogniser's weights instead of --ckpt (fresh schedule)")
    ap.add_argument("--steps", type=int, choices=(40, 80),
                    help="time steps of the output; a 40-step start becomes an 80-step model that reads as it "
                    "did at every second step (default: those of the checkpoint or compiled model, else 40)")
    ap.add_argument("--ema", type=float, default=0.0,
                    help="decay of a running average of the weights (e.g. 0.999); the average is what is exported")
    args = ap.parse_args()
    if args.synth:
        os.environ["PLATE_SYNTH_DIR"] = args.synth
    common.seed_all(args.seed)
    chars = common.load_dict(common.dict_path(args.dict))
    index = {ch: i + 1 for i, ch in enumerate(chars)}
    num_classes = len(chars) + 1
    os.makedirs(os.path.dirname(args.ckpt), exist_ok=True)
    state = torch.load(args.ckpt) if args.resume and os.path.exists(args.ckpt) else None
    steps = args.steps or (state.get("steps", 40) if state else 40)
    model = nets.Recognizer(num_classes, args.width, steps)
    step_count = 0
    if state:
        if state["model"]["head.weight"].shape[1] < model.head.weight.shape[1]:
            state["model"] = nets.widen_recognizer(state["model"], args.width, args.seed)
            print("widened the checkpoint to width %.2f" % args.width, flush=True)
        model.load_state_dict(state["model"])
        step_count = state["step"]
        print("resumed from step %d" % step_count, flush=True)
    if args.upper_boost != 1.0:
        for i, kind in enumerate(rec_data.CROP_KINDS):
            if kind in ("det_upper", "upper_row", "det_group"):
                rec_data.CROP_WEIGHTS[i] *= args.upper_boost
    rng = np.random.default_rng(args.seed)
    records, n_shards = platebank.load_banks(args.bank)
    predicted_frac = 0.0
    if args.corner_model:
        rec_data.predict_corners(records, args.corner_model)
        predicted_frac = args.predicted_frac
    print("classes %d, bank records %d" % (num_classes, len(records)), flush=True)
    if args.from_compiled:
        model = nets.recognizer_from_compiled(args.from_compiled, num_classes, args.steps)
        calib_rng = np.random.default_rng(args.seed + 1)
        nets.recalibrate_batchnorm(model, (make_batch(records, calib_rng, args.batch, index,
                                                      predicted_frac=predicted_frac)[0] for _ in range(40)))
        print("started from %s" % args.from_compiled, flush=True)
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    ema = average_model(model) if args.ema > 0 else None
    bank = {"records": records, "shards": n_shards}
    model.train()

    def step():
        x, tgt, lens = make_batch(bank["records"], rng, args.batch, index, predicted_frac=predicted_frac)
        logits = model(x)                                  # N, T, C
        logp = F.log_softmax(logits, 2).permute(1, 0, 2)    # T, N, C
        in_lens = torch.full((x.shape[0],), logp.shape[0], dtype=torch.long)
        loss = F.ctc_loss(logp, tgt, in_lens, lens, blank=0, zero_infinity=True)
        common.backward_step(opt, loss, model.parameters(), 5.0)
        if ema is not None:
            update_average(ema, model, args.ema)
        return {"loss": loss.item()}

    def reload():
        if platebank.count_shards(args.bank) > bank["shards"]:
            bank["records"], bank["shards"] = platebank.load_banks(args.bank)
            if args.corner_model:
                rec_data.predict_corners(bank["records"], args.corner_model)
            print("bank records %d" % len(bank["records"]), flush=True)

    warm = 0.01 if args.resume or args.from_compiled else 0.05
    common.train_for(args.minutes, opt, lambda frac: common.cosine_lr(args.lr, frac, 0.03, warm), step,
                     lambda steps, minutes: save(model, ema, opt, steps, args, minutes), args.export_every,
                     stop=args.stop_after, first_step=step_count, every=[(200, reload)])


if __name__ == "__main__":
    main()
