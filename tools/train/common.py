"""Shared helpers of the training scripts: thread limits, seeds, the plate
generator import, ONNX export through the model compiler, timing."""
import os
import random
import shutil
import subprocess
import sys
import time

# One thread by default so that training can share the machine; PLATE_TRAIN_THREADS raises it.
THREADS = max(1, int(os.environ.get("PLATE_TRAIN_THREADS", "1")))
os.environ.setdefault("OMP_NUM_THREADS", str(THREADS))
os.environ.setdefault("MKL_NUM_THREADS", str(THREADS))

import cv2  # noqa: E402
import numpy as np  # noqa: E402
import torch  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
COMPILER = os.path.join(REPO, "tools", "model_compiler", "compile.py")

torch.set_num_threads(THREADS)
cv2.setNumThreads(1)


def seed_all(seed):
    random.seed(seed)
    np.random.seed(seed)
    torch.manual_seed(seed)


def synth_root(option=None):
    """Directory that holds the `synth` package: --synth, $PLATE_SYNTH_DIR,
    or this repository's own tools/."""
    root = option or os.environ.get("PLATE_SYNTH_DIR") or os.path.join(REPO, "tools")
    return os.path.abspath(root)


def import_plategen(option=None):
    root = synth_root(option)
    if root not in sys.path:
        sys.path.insert(0, root)
    from synth import plategen
    return plategen


def dict_path(option=None):
    """The recogniser's class list lives next to the generator's repository."""
    if option:
        return option
    env = os.environ.get("PLATE_REC_DICT")
    if env:
        return env
    return os.path.join(os.path.dirname(synth_root()), "dict", "ppocrv6_rec_dict.txt")


def load_dict(path):
    with open(path, encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip()]


def export_onnx(model, dummy, path, output_names):
    model.eval()
    torch.onnx.export(model, dummy, path, opset_version=11, input_names=["images"],
                      output_names=output_names, do_constant_folding=True)


def export_compiled(model, out, tmp_dir, stem, w, h, output):
    """Exports model (one 1x3xHxW input) to tmp_dir/STEM.onnx, compiles it to out, and puts the model back
    into training mode."""
    onnx_path = os.path.join(tmp_dir, stem + ".onnx")
    export_onnx(model, torch.zeros(1, 3, h, w), onnx_path, [output])
    compile_model(onnx_path, out, w, h)
    model.train()


def compile_model(onnx_path, out_path, w, h):
    """Our networks divide by 255 themselves, so no mean/std is folded."""
    subprocess.run([sys.executable, COMPILER, onnx_path, out_path, "--input-size", "%dx%d" % (w, h)],
                   check=True)


def time_cv2(path, w, h, runs=20):
    """Mean milliseconds per run with 1 thread and with OpenCV's default."""
    blob = np.random.default_rng(0).integers(0, 256, (1, 3, h, w)).astype(np.float32)
    result = {}
    for label, threads in (("1 thread", 1), ("default threads", -1)):
        cv2.setNumThreads(threads)
        net = cv2.dnn.readNetFromONNX(path)
        net.setInput(blob)
        net.forward()
        t0 = time.perf_counter()
        for _ in range(runs):
            net.setInput(blob)
            net.forward()
        result[label] = (time.perf_counter() - t0) * 1000.0 / runs
    cv2.setNumThreads(1)
    return result


def cv2_run(net, images_rgb):
    """images_rgb: list of HxWx3 uint8 RGB at the model size -> list of outputs."""
    outs = []
    for img in images_rgb:
        blob = img.transpose(2, 0, 1)[None].astype(np.float32)
        net.setInput(blob)
        outs.append(net.forward())
    return outs


def corner_model_points(net, roi):
    """Runs a compiled corner model on a BGR ROI and decodes its eight values as
    the reader does: per point fractions (both <= 2) or pixels, clamped to the
    ROI. Returns tl, tr, br, bl as a 4x2 float32 array in ROI pixels."""
    h, w = roi.shape[:2]
    rgb = cv2.cvtColor(cv2.resize(roi, (256, 128)), cv2.COLOR_BGR2RGB)
    net.setInput(rgb.transpose(2, 0, 1)[None].astype(np.float32))
    v = net.forward().reshape(-1)[:8]
    pts = []
    for i in range(4):
        x, y = float(v[2 * i]), float(v[2 * i + 1])
        if x <= 2.0 and y <= 2.0:
            x, y = x * w, y * h
        pts.append([max(0.0, min(w - 1.0, x)), max(0.0, min(h - 1.0, y))])
    return np.float32(pts)


class Timer:
    def __init__(self):
        self.t0 = time.time()

    def minutes(self):
        return (time.time() - self.t0) / 60.0


def trainer_args(ap, minutes, batch, lr, seed, out, ckpt, snapshots=False):
    """The options every trainer takes, with its own defaults; with snapshots, also --stop-after and
    --keep-snapshots, for passes whose snapshots are chosen on a selection set afterwards."""
    ap.add_argument("--minutes", type=float, default=minutes)
    ap.add_argument("--batch", type=int, default=batch)
    ap.add_argument("--lr", type=float, default=lr)
    ap.add_argument("--seed", type=int, default=seed)
    ap.add_argument("--out", default=os.path.join(REPO, "models", "rknn", out))
    ap.add_argument("--ckpt", default=os.path.join("/tmp/plate_train", ckpt))
    ap.add_argument("--export-every", type=float, default=10.0, help="minutes between compiled snapshots")
    if snapshots:
        ap.add_argument("--stop-after", type=float,
                        help="minutes after which to stop, the schedule still set by --minutes (default: --minutes)")
        ap.add_argument("--keep-snapshots", action="store_true",
                        help="also keep every compiled snapshot as OUT-stem.NNNmin.rknn (minutes into the pass)")


def keep_snapshot(out, minutes):
    """Copies the compiled model at out to OUT-stem.NNNmin.rknn, so that a snapshot can be chosen on a
    selection set afterwards."""
    stem = out[:-len(".rknn")] if out.endswith(".rknn") else out
    shutil.copyfile(out, "%s.%03dmin.rknn" % (stem, int(round(minutes))))


def resume(model, ckpt):
    """Loads --ckpt's weights into model, where there is a checkpoint."""
    if os.path.exists(ckpt):
        model.load_state_dict(torch.load(ckpt)["model"])
        print("resumed from %s" % ckpt, flush=True)


def cosine_lr(base, frac, floor=0.02, warm=0.0):
    """base falling along half a cosine to floor * base as frac goes 0 -> 1, after a linear
    warm-up from a tenth of it over the first `warm` of the pass."""
    if warm > 0 and frac <= warm:
        return base * max(0.1, frac / warm)
    return base * (floor + (1.0 - floor) * 0.5 * (1 + np.cos(np.pi * min(1.0, frac))))


def backward_step(opt, loss, clip_params=None, clip=0.0):
    opt.zero_grad()
    loss.backward()
    if clip_params is not None:
        torch.nn.utils.clip_grad_norm_(clip_params, clip)
    opt.step()


def train_for(minutes, opt, lr_at, step, checkpoint, export_every, stop=None, first_step=0, every=()):
    """The time-boxed loop of the trainers.  Until `stop` minutes (default `minutes`) have passed:
    sets opt's learning rate to lr_at(fraction of `minutes` gone), runs step() (one batch, its
    backward pass and optimiser step; returns {name: number}, printed as running averages every 50
    steps), runs f() of each (n, f) in `every` every n steps, and checkpoint(steps, minutes) every
    export_every minutes and once at the end.  Returns the step count."""
    timer = Timer()
    stop = minutes if stop is None else min(minutes, stop)
    n, last_export, avg = first_step, 0.0, None
    while timer.minutes() < stop:
        lr = lr_at(timer.minutes() / minutes)
        for g in opt.param_groups:
            g["lr"] = lr
        shown = step()
        n += 1
        cur = np.array(list(shown.values()), np.float64)
        avg = cur if avg is None else 0.98 * avg + 0.02 * cur
        if n % 50 == 0:
            print("step %d  %.1f min  lr %.5f  " % (n, timer.minutes(), lr) +
                  "  ".join("%s %.4f" % (k, v) for k, v in zip(shown, avg)), flush=True)
        for every_n, f in every:
            if n % every_n == 0:
                f()
        if timer.minutes() - last_export >= export_every:
            checkpoint(n, timer.minutes())
            last_export = timer.minutes()
    checkpoint(n, timer.minutes())
    print("done: %d steps in %.1f min" % (n, timer.minutes()), flush=True)
    return n
