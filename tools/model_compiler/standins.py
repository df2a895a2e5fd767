#!/usr/bin/python3
"""Tiny stand-ins for the exports people bring, in their source layouts, each
with a NumPy reference of what it computes (on the input the source model
expects, already normalised).  They have random weights: they show how a
layout goes through the compiler, not how well anything reads plates.

  standins.py OUT_DIR      writes yolo_det.onnx, yolo_pose.onnx,
                           ppocr_det.onnx, ppocr_rec.onnx and ppocr_keys.txt

YOLO heads end like the usual exports (v8: Split of box bins and class rows,
DFL, anchor-free decode, sigmoid scores; v5-style rows carry an objectness).  The anchors
are built for one input size, so the stand-in runs at that size only even
where its declared input dims are open, as in a dynamic-batch export."""
import sys

# inspect.py in this folder would hide the standard module of that name from
# the libraries imported below; the folder stays reachable at the end
if __name__ == "__main__":
    sys.path.append(sys.path.pop(0))

import os  # noqa: E402

import numpy as np  # noqa: E402
import onnx  # noqa: E402
from onnx import helper, numpy_helper, TensorProto  # noqa: E402

STRIDES = (8, 16, 32)
REG_MAX = 16  # distance bins of a v8 head's DFL


def sigmoid(x):
    return 1.0 / (1.0 + np.exp(-x))


def avg_pool(x, ky, kx):
    n, c, h, w = x.shape
    return x.reshape(n, c, h // ky, ky, w // kx, kx).mean(axis=(3, 5))


def conv1x1(x, w, b):
    return np.einsum("oc,nchw->nohw", w, x) + b.reshape(1, -1, 1, 1)


def input_dims(dynamic, h, w):
    return {"none": [1, 3, h, w], "batch": ["batch", 3, h, w],
            "all": ["batch", 3, "height", "width"]}[dynamic]


class Graph:
    def __init__(self, opset):
        self.opset = opset
        self.nodes, self.inits = [], []
        self.count = 0

    def const(self, value, hint="c"):
        self.count += 1
        name = "%s_%d" % (hint, self.count)
        self.inits.append(numpy_helper.from_array(np.asarray(value), name))
        return name

    def node(self, op, inputs, outputs=1, **attrs):
        self.count += 1
        outs = ["%s_%d_%d" % (op.lower(), self.count, i) for i in range(outputs)]
        self.nodes.append(helper.make_node(op, inputs, outs, **attrs))
        return outs[0] if outputs == 1 else outs

    def unsqueeze(self, x, axes):
        if self.opset >= 13:
            return self.node("Unsqueeze", [x, self.const(np.array(axes, np.int64), "axes")])
        return self.node("Unsqueeze", [x], axes=axes)

    def split(self, x, sizes, axis):
        if self.opset >= 13:
            return self.node("Split", [x, self.const(np.array(sizes, np.int64), "split")], len(sizes), axis=axis)
        return self.node("Split", [x], len(sizes), axis=axis, split=list(sizes))

    def model(self, inputs, output, out_dims, name, extra_outputs=()):
        self.nodes[-1].output[0] = output
        outputs = [helper.make_tensor_value_info(output, TensorProto.FLOAT, out_dims)]
        outputs += [helper.make_tensor_value_info(n, TensorProto.FLOAT, d) for n, d in extra_outputs]
        graph = helper.make_graph(self.nodes, name, inputs, outputs, self.inits)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", self.opset)])
        model.ir_version = 7
        # this onnx may not know the newest opsets, which OpenCV is still tried on
        if self.opset <= onnx.defs.onnx_opset_version():
            onnx.checker.check_model(model)
        return model


def traced_anchors(g, feature, stride):
    """Anchor centres (2 x cells) and strides (cells) built from the feature
    map's shape, as a dynamic-size export traces them."""
    shape = g.node("Shape", [feature])
    h = g.node("Gather", [shape, g.const(np.array(2, np.int64), "i")], axis=0)
    w = g.node("Gather", [shape, g.const(np.array(3, np.int64), "i")], axis=0)
    centres = []
    for size in (w, h):
        end = g.node("Cast", [size], to=TensorProto.FLOAT)
        steps = g.node("Range", [g.const(np.array(0.0, np.float32), "start"), end,
                                 g.const(np.array(1.0, np.float32), "step")])
        centres.append(g.node("Add", [steps, g.const(np.array(0.5, np.float32), "half")]))
    hw = g.node("Concat", [g.unsqueeze(h, [0]), g.unsqueeze(w, [0])], axis=0)
    gx = g.node("Expand", [g.unsqueeze(centres[0], [0]), hw])
    gy = g.node("Expand", [g.unsqueeze(centres[1], [1]), hw])
    flat = g.const(np.array([1, -1], np.int64), "flat")
    points = g.node("Concat", [g.node("Reshape", [gx, flat]), g.node("Reshape", [gy, flat])], axis=0)
    cells = g.unsqueeze(g.node("Mul", [h, w]), [0])
    strides = g.node("ConstantOfShape", [cells], value=numpy_helper.from_array(np.array([stride], np.float32)))
    return points, strides


def anchor_grid(w, h):
    """Anchor centres in cells and the stride of each, v8 order (fine to coarse)."""
    centres, strides = [], []
    for s in STRIDES:
        gy, gx = np.meshgrid(np.arange(h // s) + 0.5, np.arange(w // s) + 0.5, indexing="ij")
        centres.append(np.stack([gx.reshape(-1), gy.reshape(-1)]))
        strides.append(np.full(gx.size, s))
    return np.concatenate(centres, 1).astype(np.float32), np.concatenate(strides).astype(np.float32)


def head_weights(rng, rows, score_rows):
    """Random 1x1 weights; score rows favour bright areas so the best anchor
    sits on something, as a trained detector's would."""
    w = rng.normal(0, 0.6, (rows, 3)).astype(np.float32)
    b = rng.normal(0, 0.3, rows).astype(np.float32)
    for r in score_rows:
        w[r] = rng.uniform(2.0, 4.0, 3)
        b[r] = -4.5
    return w, b


def yolo(kind="detect", classes=1, layout="v8", opset=12, dynamic="batch", size=(320, 320),
         per_keypoint=3, keypoints=4, seed=0, raw_maps=False, traced=False):
    """kind "detect": 1 x (4 + classes) x N ("v8"), its transpose ("transposed")
    or 1 x N x (5 + classes) with objectness ("objectness").  kind "pose":
    v8-pose, 1 x (4 + classes + keypoints * per_keypoint) x N, or transposed.
    raw_maps: the per-scale maps are outputs too, as older YOLOv5 exports have.
    traced: anchors and strides are computed from the maps' shapes in the
    graph (Shape, Range, Expand ...), as in an Ultralytics dynamic=True export."""
    w_in, h_in = size
    rng = np.random.default_rng(seed)
    obj = 1 if layout == "objectness" else 0
    # v8 heads give box distances as REG_MAX bins each (DFL); the v5-style one as sigmoids
    box_ch = 4 if obj else 4 * REG_MAX
    kp_rows = keypoints * per_keypoint if kind == "pose" else 0
    rows = 4 + obj + classes + kp_rows
    ch = box_ch + obj + classes + kp_rows
    score_rows = range(box_ch, box_ch + obj + classes)
    weights = [head_weights(rng, ch, score_rows) for _ in STRIDES]
    if kind == "pose":
        # keypoints about the anchor, corner-like: tl, tr, br, bl
        offsets = [(-3.0, -1.5), (3.0, -1.5), (3.0, 1.5), (-3.0, 1.5)]
        for wt, bt in weights:
            for k in range(keypoints):
                base = box_ch + classes + k * per_keypoint
                wt[base:base + 2] *= 0.1
                bt[base:base + 2] = np.array(offsets[k % 4]) / 2.0
    centres, strides = anchor_grid(w_in, h_in)
    n = strides.size

    g = Graph(opset)
    feats, maps, traced_parts = [], [], []
    for s, (wt, bt) in zip(STRIDES, weights):
        pooled = g.node("AveragePool", ["images"], kernel_shape=[s, s], strides=[s, s])
        conv = g.node("Conv", [pooled, g.const(wt.reshape(ch, 3, 1, 1), "w"), g.const(bt, "b")], kernel_shape=[1, 1])
        maps.append((conv, ["batch", ch, h_in // s, w_in // s]))
        if traced:
            traced_parts.append(traced_anchors(g, conv, s))
        feats.append(g.node("Reshape", [conv, g.const(np.array([1, ch, -1], np.int64), "shape")]))
    x = g.node("Concat", feats, axis=2)
    parts = g.split(x, [box_ch, obj + classes] + ([kp_rows] if kp_rows else []), axis=1)
    box, scores = parts[0], parts[1]
    if obj:
        dist = g.node("Mul", [g.node("Sigmoid", [box]), g.const(np.array(4.0, np.float32), "four")])
    else:
        bins = g.node("Reshape", [box, g.const(np.array([1, 4, REG_MAX, n], np.int64), "bins")])
        probs = g.node("Softmax", [g.node("Transpose", [bins], perm=[0, 2, 1, 3])], axis=1)
        expect = g.node("Conv", [probs, g.const(np.arange(REG_MAX, dtype=np.float32).reshape(1, REG_MAX, 1, 1),
                                                "dfl")], kernel_shape=[1, 1])
        dist = g.node("Reshape", [expect, g.const(np.array([1, 4, n], np.int64), "dist")])
    lt, rb = g.split(dist, [2, 2], axis=1)
    # anchors 2 x N and strides 1 x N, as the exports hold them
    if traced:
        anchors = g.node("Concat", [p for p, _ in traced_parts], axis=1)
        stride_row = g.node("Reshape", [g.node("Concat", [t for _, t in traced_parts], axis=0),
                                        g.const(np.array([1, -1], np.int64), "row")])
    else:
        anchors = g.const(centres, "anchors")
        stride_row = g.const(strides.reshape(1, n), "strides")
    x1y1 = g.node("Sub", [anchors, lt])
    x2y2 = g.node("Add", [anchors, rb])
    centre = g.node("Div", [g.node("Add", [x1y1, x2y2]), g.const(np.array(2.0, np.float32), "two")])
    wh = g.node("Sub", [x2y2, x1y1])
    dbox = g.node("Mul", [g.node("Concat", [centre, wh], axis=1), stride_row])
    pieces = [dbox, g.node("Sigmoid", [scores])]
    if kp_rows:
        grid = np.zeros((1, kp_rows, n), np.float32)
        scale = np.ones((1, kp_rows, n), np.float32)
        for k in range(keypoints):
            for axis in (0, 1):
                grid[0, k * per_keypoint + axis] = centres[axis] - 0.5
                scale[0, k * per_keypoint + axis] = strides
        raw = g.node("Mul", [parts[2], g.const(np.array(2.0, np.float32), "two")])
        pieces.append(g.node("Mul", [g.node("Add", [raw, g.const(grid, "grid")]), g.const(scale, "kscale")]))
    out = g.node("Concat", pieces, axis=1)
    transposed = layout in ("transposed", "objectness")
    if transposed:
        out = g.node("Transpose", [out], perm=[0, 2, 1])
    inputs = [helper.make_tensor_value_info("images", TensorProto.FLOAT, input_dims(dynamic, h_in, w_in))]
    out_dims = ["batch", "anchors", rows] if transposed else ["batch", rows, "anchors"]
    model = g.model(inputs, "output0", out_dims, "yolo_" + kind, maps if raw_maps else ())

    def reference(images):
        x = np.concatenate([conv1x1(avg_pool(images, s, s), wt, bt).reshape(1, ch, -1)
                            for s, (wt, bt) in zip(STRIDES, weights)], axis=2)
        if obj:
            dist = 4.0 * sigmoid(x[:, :4])
        else:
            bins = x[:, :box_ch].reshape(1, 4, REG_MAX, -1)
            e = np.exp(bins - bins.max(axis=2, keepdims=True))
            dist = (e / e.sum(axis=2, keepdims=True) * np.arange(REG_MAX).reshape(1, 1, -1, 1)).sum(axis=2)
        x1y1, x2y2 = centres - dist[:, :2], centres + dist[:, 2:]
        dbox = np.concatenate([(x1y1 + x2y2) / 2, x2y2 - x1y1], axis=1) * strides
        pieces = [dbox, sigmoid(x[:, box_ch:box_ch + obj + classes])]
        if kp_rows:
            pieces.append((x[:, box_ch + obj + classes:] * 2.0 + grid) * scale)
        out = np.concatenate(pieces, axis=1)
        return out.transpose(0, 2, 1) if transposed else out

    return model, reference


def ppocr_det(opset=11, dynamic="all", size=(640, 640), seed=0):
    """DB-style text detector: 1 x 1 x H x W probabilities at the input's size."""
    w_in, h_in = size
    rng = np.random.default_rng(seed)
    wt = rng.normal(0, 1.0, (1, 3)).astype(np.float32)
    bt = rng.normal(0, 0.2, 1).astype(np.float32)
    g = Graph(opset)
    pooled = g.node("AveragePool", ["x"], kernel_shape=[4, 4], strides=[4, 4])
    conv = g.node("Conv", [pooled, g.const(wt.reshape(1, 3, 1, 1), "w"), g.const(bt, "b")], kernel_shape=[1, 1])
    up = g.node("Resize", [conv, g.const(np.array([], np.float32), "roi"),
                           g.const(np.array([1, 1, 4, 4], np.float32), "scales")], mode="nearest")
    g.node("Sigmoid", [up])
    inputs = [helper.make_tensor_value_info("x", TensorProto.FLOAT, input_dims(dynamic, h_in, w_in))]
    model = g.model(inputs, "sigmoid_0.tmp_0", ["batch", 1, "height", "width"], "ppocr_det")

    def reference(x):
        small = conv1x1(avg_pool(x, 4, 4), wt, bt)
        return sigmoid(small.repeat(4, axis=2).repeat(4, axis=3))

    return model, reference


def ppocr_rec(classes=252, opset=11, dynamic="width", height=48, width=320, seq_first=False, seed=0):
    """CTC recogniser: 1 x T x classes softmax, T = width / 8; seq_first
    gives the T x 1 x classes layout of older exports."""
    rng = np.random.default_rng(seed)
    wt = rng.normal(0, 2.0, (classes, 3)).astype(np.float32)
    bt = rng.normal(0, 1.0, classes).astype(np.float32)
    g = Graph(opset)
    pooled = g.node("AveragePool", ["x"], kernel_shape=[height, 8], strides=[height, 8])
    conv = g.node("Conv", [pooled, g.const(wt.reshape(classes, 3, 1, 1), "w"), g.const(bt, "b")], kernel_shape=[1, 1])
    seq = g.node("Reshape", [conv, g.const(np.array([0, classes, -1], np.int64), "shape")])
    seq = g.node("Transpose", [seq], perm=[2, 0, 1] if seq_first else [0, 2, 1])
    g.node("Softmax", [seq], axis=2)
    dims = {"none": [1, 3, height, width], "width": ["batch", 3, height, "width"],
            "all": ["batch", 3, "height", "width"]}[dynamic]
    inputs = [helper.make_tensor_value_info("x", TensorProto.FLOAT, dims)]
    out_dims = ["steps", "batch", classes] if seq_first else ["batch", "steps", classes]
    model = g.model(inputs, "softmax_0.tmp_0", out_dims, "ppocr_rec")

    def reference(x):
        logits = conv1x1(avg_pool(x, height, 8), wt, bt).reshape(1, classes, -1).transpose(0, 2, 1)
        e = np.exp(logits - logits.max(axis=2, keepdims=True))
        p = e / e.sum(axis=2, keepdims=True)
        return p.transpose(1, 0, 2) if seq_first else p

    return model, reference


def write_all(out_dir, dict_path):
    os.makedirs(out_dir, exist_ok=True)
    entries = [line.strip() for line in open(dict_path, encoding="utf-8") if line.strip()]
    # PaddleOCR's key files leave out the blank; use_space_char adds a last class
    with open(os.path.join(out_dir, "ppocr_keys.txt"), "w", encoding="utf-8") as f:
        f.write("".join(e + "\n" for e in entries))
    models = {
        "yolo_det.onnx": yolo("detect", classes=2, size=(320, 320))[0],
        "yolo_pose.onnx": yolo("pose", classes=1, size=(256, 128))[0],
        "ppocr_det.onnx": ppocr_det()[0],
        "ppocr_rec.onnx": ppocr_rec(classes=len(entries) + 2)[0],
    }
    for name, model in models.items():
        onnx.save(model, os.path.join(out_dir, name))
        print(os.path.join(out_dir, name))


def main(argv):
    if len(argv) != 2:
        print(__doc__)
        return 2
    here = os.path.dirname(os.path.abspath(__file__))
    write_all(argv[1], os.path.join(here, "..", "..", "dict", "ppocrv6_rec_dict.txt"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
