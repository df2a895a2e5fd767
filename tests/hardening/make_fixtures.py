"""Bad inputs for the hardening tests: broken and ill-shaped models, and
pictures that are empty, cut short, not pictures, tiny, huge, grey or 16-bit."""
import os
import sys

import cv2
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
p = lambda name: os.path.join(out, name)  # noqa: E731

# The one dictionary the good recogniser matches (see bad_input_test.cpp).
DICT = list("0123456789") + ["-", "・", "品", "川", "あ", "さ"]
CLASSES = len(DICT) + 1
GOOD_CORNERS = [0.1, 0.2, 0.9, 0.2, 0.9, 0.8, 0.1, 0.8]


def reading(text, steps=16):
    classes, prev = [], None
    for ch in text:
        if ch == prev:
            classes.append(0)  # a blank keeps a doubled character
        classes.append(DICT.index(ch) + 1)
        prev = ch
    logits = np.zeros((steps, CLASSES), np.float32)
    for t in range(steps):
        logits[t, classes[t] if t < len(classes) else 0] = 10.0
    return logits


fx.constant_model(p("corner.onnx"), (1, 3, 128, 256), [("corners", (1, 8), GOOD_CORNERS)])
fx.constant_model(p("textdet.onnx"), (1, 3, 640, 640), [("map", (1, 1, 40, 40), np.zeros(1600))])
fx.constant_model(p("rec.onnx"), (1, 3, 48, 320), [("logits", (1, 16, CLASSES), reading("品川300あ12-34"))])
fx.constant_model(p("plate_det.onnx"), (1, 3, 96, 128), [("rows", (1, 1, 6), [0, 0.9, 0.25, 0.2, 0.75, 0.8])])

# Wrong shapes for each stage.
fx.constant_model(p("corner_four_values.onnx"), (1, 3, 128, 256), [("corners", (1, 4), GOOD_CORNERS[:4])])
fx.constant_model(p("corner_nan.onnx"), (1, 3, 128, 256), [("corners", (1, 8), [float("nan")] * 8)])
fx.constant_model(p("corner_huge.onnx"), (1, 3, 128, 256),
                  [("corners", (1, 8), [1e30, -1e30, 3e38, 1e30, -3e38, 1e30, 1e30, -1e30])])
fx.constant_model(p("textdet_not_square.onnx"), (1, 3, 640, 640), [("map", (1, 1, 40, 30), np.ones(1200))])
fx.constant_model(p("rec_wrong_classes.onnx"), (1, 3, 48, 320),
                  [("logits", (1, 16, CLASSES + 2), np.zeros(16 * (CLASSES + 2)))])
fx.constant_model(p("plate_det_five_values.onnx"), (1, 3, 96, 128), [("rows", (1, 2, 5), [0, 0.9, 0.25, 0.2, 0.75] * 2)])

# Files that are no model at all.
with open(p("corner.onnx"), "rb") as f:
    corner_bytes = f.read()
with open(p("zero_bytes.onnx"), "wb"):
    pass
with open(p("truncated.onnx"), "wb") as f:
    f.write(corner_bytes[: len(corner_bytes) // 2])
with open(p("text.onnx"), "w") as f:
    f.write("this is a text file, not a model\n")

# Pictures.
plate = np.full((60, 160, 3), 230, np.uint8)
cv2.putText(plate, "12-34", (20, 45), cv2.FONT_HERSHEY_SIMPLEX, 1.2, (20, 20, 20), 3)
cv2.imwrite(p("plate.png"), plate)
cv2.imwrite(p("plate.jpg"), plate)
with open(p("plate.jpg"), "rb") as f:
    jpeg = f.read()
with open(p("truncated.jpg"), "wb") as f:
    f.write(jpeg[: len(jpeg) // 2])
with open(p("zero_bytes.jpg"), "wb"):
    pass
with open(p("text.jpg"), "w") as f:
    f.write("this is a text file, not a picture\n")
cv2.imwrite(p("one_pixel.png"), np.full((1, 1, 3), 128, np.uint8))
cv2.imwrite(p("grey.png"), cv2.cvtColor(plate, cv2.COLOR_BGR2GRAY))
cv2.imwrite(p("deep16.png"), cv2.cvtColor(plate, cv2.COLOR_BGR2GRAY).astype(np.uint16) * 256)
scene = np.full((6000, 8000, 3), 190, np.uint8)
cv2.putText(scene, "12-34", (1000, 4000), cv2.FONT_HERSHEY_SIMPLEX, 40, (0, 0, 0), 60)
cv2.imwrite(p("huge_8000x6000.jpg"), scene)

# Models whose tensors hold fewer values than their dimensions promise: one in
# an initializer, one in a Constant node.
import onnx  # noqa: E402
from onnx import TensorProto, helper  # noqa: E402

short = onnx.load(p("corner.onnx"))
for init in short.graph.initializer:
    if init.name == "corners_b":
        init.raw_data = init.raw_data[:16]
onnx.save(short, p("short_initializer.onnx"))

constant = helper.make_tensor("c", TensorProto.FLOAT, [1, 8], b"\0" * 32, raw=True)
constant.raw_data = constant.raw_data[:12]
graph = helper.make_graph(
    [helper.make_node("Constant", [], ["k"], value=constant),
     helper.make_node("GlobalAveragePool", ["images"], ["pooled"]),
     helper.make_node("Flatten", ["pooled"], ["flat"], axis=1),
     helper.make_node("MatMul", ["flat", "w"], ["mm"]),
     helper.make_node("Add", ["mm", "k"], ["corners"])],
    "short_constant",
    [helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, 128, 256])],
    [helper.make_tensor_value_info("corners", TensorProto.FLOAT, [1, 8])],
    [onnx.numpy_helper.from_array(np.zeros((3, 8), np.float32), "w")])
m = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 11)])
m.ir_version = 6
onnx.save(m, p("short_constant.onnx"))

# A decompression bomb: a valid PNG header declaring 60000 x 60000 pixels in
# front of a few bytes of picture data.
import struct  # noqa: E402
import zlib  # noqa: E402


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


with open(p("bomb_60000x60000.png"), "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 60000, 60000, 8, 2, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(b"\0" * 64)) + png_chunk(b"IEND", b""))
