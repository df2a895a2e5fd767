"""Models for the model wrapper and start-up tests: right input sizes, chosen
outputs, and recognisers whose class count matches a 10-entry dictionary,
exceeds it by one, or by two."""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
p = lambda name: os.path.join(out, name)  # noqa: E731

fx.constant_model(p("det.onnx"), (1, 3, 64, 96),
                  [("boxes", (1, 2, 6), [0, 0.9, 0.1, 0.2, 0.6, 0.7, 0, 0.1, 0, 0, 1, 1])])
fx.constant_model(p("corner.onnx"), (1, 3, 128, 256),
                  [("corners", (1, 8), [0.1, 0.2, 0.9, 0.2, 0.9, 0.8, 0.1, 0.8])])
fx.constant_model(p("textdet.onnx"), (1, 3, 640, 640), [("map", (1, 1, 40, 40), np.zeros(1600))])
for name, classes in (("rec_c11.onnx", 11), ("rec_c12.onnx", 12), ("rec_c13.onnx", 13)):
    fx.constant_model(p(name), (1, 3, 48, 320), [("logits", (1, 4, classes), np.zeros(4 * classes))])

# A model whose only input is two-dimensional.
inp = helper.make_tensor_value_info("vec", TensorProto.FLOAT, [1, 6])
outv = helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 2])
w = numpy_helper.from_array(np.ones((2, 6), np.float32), "w")
b = numpy_helper.from_array(np.zeros(2, np.float32), "b")
g = helper.make_graph([helper.make_node("Gemm", ["vec", "w", "b"], ["y"], transB=1)], "flat", [inp], [outv], [w, b])
m = helper.make_model(g, opset_imports=[helper.make_opsetid("", 11)])
m.ir_version = 6
onnx.save(m, p("flat_input.onnx"))

# End-to-end runs: a 16-entry dictionary (see platebench_run_test.cpp) and
# recognisers whose greedy reading is fixed.
DICT = list("0123456789") + ["-", "・", "品", "川", "あ", "さ"]
CLASSES = len(DICT) + 1


def reading_logits(text, steps=16, extra=None):
    logits = np.zeros((steps, CLASSES), np.float32)
    classes, prev = [], None
    for ch in text:
        if ch == prev:
            classes.append(0)
        classes.append(DICT.index(ch) + 1)
        prev = ch
    assert len(classes) <= steps
    for t in range(steps):
        c = classes[t] if t < len(classes) else 0
        logits[t, c] = 10.0
        if extra and c != 0:
            for ch, v in extra.items():
                logits[t, DICT.index(ch) + 1] = v
    return logits


fx.constant_model(p("run_det.onnx"), (1, 3, 96, 128), [("rows", (1, 1, 6), [0, 0.9, 0.25, 0.2, 0.75, 0.8])])
fx.constant_model(p("run_corner.onnx"), (1, 3, 128, 256), [("corners", (1, 8), [0, 0, 1, 0, 1, 1, 0, 1])])
fx.constant_model(p("run_textdet.onnx"), (1, 3, 640, 640), [("map", (1, 1, 40, 40), np.zeros(1600))])
fx.constant_model(p("run_rec_kana.onnx"), (1, 3, 48, 320),
                  [("logits", (1, 16, CLASSES), reading_logits("品川300あ12-34"))])
# No kana in the ordinary reading; さ beats the blank once only kana compete.
fx.constant_model(p("run_rec_nokana.onnx"), (1, 3, 48, 320),
                  [("logits", (1, 16, CLASSES), reading_logits("品川300・12-34", extra={"さ": 5.0}))])
