"""Shared helpers of the training scripts: thread limits, seeds, the plate
generator import, ONNX export through the model compiler, timing."""
import os
import random
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
