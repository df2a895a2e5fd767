"""Models with chosen outputs for the OCR stages' tests."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
REC_INPUT = (1, 3, 48, 320)
DET_INPUT = (1, 3, 640, 640)


def class_scores(step_classes, classes):
    """One row per step with a 1.0 at the chosen class and 0 elsewhere."""
    rows = np.zeros((len(step_classes), classes), np.float32)
    for t, c in enumerate(step_classes):
        rows[t, c] = 1.0
    return rows


# Dictionary used with these: ["A", "1", " "]; classes 0 (blank) .. 3.
text_steps = class_scores([3, 1, 1, 0, 2, 0, 2, 3], 4)
fx.constant_model(os.path.join(out, "rec_3d.onnx"), REC_INPUT, [("logits", (1, 8, 4), text_steps)])
fx.constant_model(os.path.join(out, "rec_4d.onnx"), REC_INPUT, [("logits", (1, 1, 8, 4), text_steps)])
fx.constant_model(os.path.join(out, "rec_2d.onnx"), REC_INPUT, [("logits", (8, 4), text_steps)])
fx.constant_model(os.path.join(out, "rec_1d.onnx"), REC_INPUT, [("logits", (32,), text_steps)])
fx.constant_model(os.path.join(out, "rec_spaces.onnx"), REC_INPUT,
                  [("logits", (1, 3, 4), class_scores([3, 0, 3], 4))])


def det_map(side, blocks, inside=1.0, outside=0.0):
    """A square map with rectangular blocks (x, y, w, h) of value inside."""
    m = np.full((side, side), outside, np.float32)
    for x, y, w, h in blocks:
        m[y:y + h, x:x + w] = inside
    return m


fx.constant_model(os.path.join(out, "det_none.onnx"), DET_INPUT, [("map", (1, 1, 160, 160), det_map(160, []))])
sixteen = [(10 + 40 * i, 10 + 40 * j, 10, 10) for j in range(4) for i in range(4)]
fx.constant_model(os.path.join(out, "det_sixteen.onnx"), DET_INPUT, [("map", (1, 1, 160, 160), det_map(160, sixteen))])
fx.constant_model(os.path.join(out, "det_raw.onnx"), DET_INPUT,
                  [("map", (1, 1, 640, 640), det_map(640, [(100, 200, 300, 100)], inside=4.0, outside=-4.0))])
fx.constant_model(os.path.join(out, "det_not_square.onnx"), DET_INPUT, [("map", (1, 11), np.zeros(11))])
