"""Output heads that turn common export layouts into what platebench's stages
read.  Each head is built only from ops that OpenCV 4.6's ONNX importer runs
correctly: it has no TopK layer and takes Gather indices only as constants, so
the best rows are found by ArgMax and picked by a one-hot MatMul, K times."""
import re

import numpy as np
from onnx import helper, numpy_helper, TensorProto


def opencv_reason(error):
    """The line of a cv2.error that says what failed: the importer's node line
    when there is one, without OpenCV's source positions."""
    lines = [line.lstrip("> ").strip() for line in str(error).splitlines()]
    lines = [line for line in lines if line]
    if not lines:
        return "no reason given"
    line = next((line for line in lines if line.startswith("Node [")), lines[-1])
    return re.sub(r"OpenCV\([^)]*\) \S+ error: \([^)]*\) ", "", line)


class LayoutError(SystemExit):
    """The source graph is not in the layout the adapter was asked for."""


class Head:
    """Appends nodes and constants to a graph, all named under one prefix."""

    def __init__(self, graph, prefix):
        self.graph = graph
        self.prefix = prefix
        self.count = 0
        self.shared = {}

    def name(self, hint):
        self.count += 1
        return "%s_%s_%d" % (self.prefix, hint, self.count)

    def const(self, hint, value):
        """One initializer per distinct value: the K picks share theirs."""
        value = np.asarray(value)
        key = (hint, value.dtype.str, value.shape, value.tobytes())
        if key not in self.shared:
            self.shared[key] = self.name(hint)
            self.graph.initializer.append(numpy_helper.from_array(value, self.shared[key]))
        return self.shared[key]

    def ints(self, hint, values):
        return self.const(hint, np.asarray(values, np.int64))

    def node(self, op, inputs, hint=None, **attrs):
        out = self.name(hint or op.lower())
        self.graph.node.append(helper.make_node(op, list(inputs), [out], name=out, **attrs))
        return out

    def slice_cols(self, x, start, end):
        """Columns start..end-1 of an N x C tensor."""
        return self.node("Slice", [x, self.ints("start", [start]), self.ints("end", [end]),
                                   self.ints("axes", [1])], "cols")

    def reshape(self, x, shape):
        return self.node("Reshape", [x, self.ints("shape", shape)])

    def clamp(self, x, lo, hi):
        """lo..hi with Relu alone: OpenCV 4.6 reads Clip limits only as attributes,
        which ONNX replaced by inputs at opset 11."""
        if lo != 0.0:
            x = self.node("Sub", [x, self.const("lo", np.array([lo], np.float32))])
        x = self.node("Relu", [x])
        x = self.node("Sub", [self.const("span", np.array([hi - lo], np.float32)), x])
        x = self.node("Relu", [x])
        return self.node("Sub", [self.const("hi", np.array([hi], np.float32)), x])

    def one_hot_of_best(self, scores, n):
        """1 x n scores -> 1 x n one-hot of the first largest, exact for n < 2^24."""
        best = self.node("ArgMax", [scores], "best", axis=1, keepdims=1)
        best = self.node("Cast", [best], "best_f", to=TensorProto.FLOAT)
        # best - i for every column, as one Gemm; OpenCV broadcasts no constant here
        diff = self.node("Gemm", [best, self.const("ones", np.ones((n, 1), np.float32)),
                                  self.const("neg_iota", -np.arange(n, dtype=np.float32))],
                         "diff", transB=1)
        square = self.node("Mul", [diff, diff])
        near = self.node("Sub", [self.const("one", np.array([1.0], np.float32)), square])
        return self.node("Relu", [near], "one_hot")


def replace_outputs(graph, tensor, dims, name=None):
    """Makes tensor the graph's only output, renamed to name when given."""
    if name:
        for node in graph.node:
            for i, out in enumerate(node.output):
                if out == tensor:
                    node.output[i] = name
        tensor = name
    del graph.output[:]
    graph.output.append(helper.make_tensor_value_info(tensor, TensorProto.FLOAT, list(dims)))


def anchor_counts(w, h):
    """Anchors a YOLO head has at this input size: strides 8-32 (P5) or 8-64
    (P6), one anchor per cell (anchor-free) or three (YOLOv5/v7)."""
    counts = set()
    for top in (32, 64):
        cells = sum((w // s) * (h // s) for s in (8, 16, 32, 64) if s <= top)
        counts.update((cells, 3 * cells))
    return sorted(counts)


def check_anchors(name, shape, rows, w, h, what):
    n = shape[2] if shape[1] == rows else shape[1]
    counts = anchor_counts(w, h)
    if n not in counts:
        raise LayoutError("%s: output %s is %s: %d anchors, where a %dx%d YOLO head has %s (an export "
                          "with NMS inside, or another input size?)"
                          % (what, name, fmt_shape(shape), n, w, h, " or ".join(map(str, counts))))


def to_anchor_rows(head, out_name, shape, rows_per_anchor, what):
    """(1, C, N) or (1, N, C) -> N x C, telling the two apart by which axis holds C."""
    c_first = shape[1] == rows_per_anchor
    c_last = shape[2] == rows_per_anchor
    if c_first and c_last:
        raise LayoutError("%s: output %s is %s; %d anchors of %d values each cannot be told from "
                          "their transpose" % (what, out_name, fmt_shape(shape), shape[1], shape[1]))
    x = out_name
    if c_first:
        x = head.node("Transpose", [x], "per_anchor", perm=[0, 2, 1])
    n = shape[2] if c_first else shape[1]
    return head.reshape(x, [n, rows_per_anchor]), n


def fmt_shape(shape):
    return "x".join(str(d) for d in shape)


def has_grid(shape, w, h, strides):
    """True when two neighbouring dims are the input's size over one of the strides."""
    grids = {(h // s, w // s) for s in strides}
    return any((a, b) in grids for a, b in zip(shape, shape[1:]))


def yolo_output(outputs, w, h, what, layout):
    """The one decoded output; older YOLOv5 exports add the raw per-scale maps,
    which the head leaves out."""
    if len(outputs) > 1:
        for n, s in outputs:
            if has_grid(s, w, h, (4,)):
                raise LayoutError("%s: output %s is %s, mask prototypes at a quarter of the input: a "
                                  "segmentation export, whose rows carry mask coefficients after the "
                                  "class scores" % (what, n, fmt_shape(s)))
        counts = anchor_counts(w, h)
        decoded = [(n, s) for n, s in outputs
                   if len(s) == 3 and s[0] == 1 and (s[1] in counts or s[2] in counts)]
        others = [n for n, s in outputs if (n, s) not in decoded and not has_grid(s, w, h, (8, 16, 32, 64))]
        if len(decoded) != 1 or others:
            raise LayoutError("%s: the graph has %d outputs (%s), %d of them holding all anchors; a %s "
                              "export has one, beside at most its per-scale maps"
                              % (what, len(outputs), ", ".join(n for n, _ in outputs), len(decoded), layout))
        outputs = decoded
    name, shape = outputs[0]
    if len(shape) != 3 or shape[0] != 1:
        raise LayoutError("%s: output %s is %s; expected %s" % (what, name, fmt_shape(shape), layout))
    return name, list(shape)


def yolo_detect_head(graph, outputs, w, h, top_k, objectness):
    """One YOLO detect output -> 1 x K x 6 rows (class, score, x1, y1, x2, y2),
    corners normalised to the input, best score first."""
    what = "--yolo-detect"
    layout = "1 x (4 + classes) x anchors or its transpose" if not objectness else \
        "1 x anchors x (5 + classes) or its transpose"
    name, shape = yolo_output(outputs, w, h, what, layout)
    first = 5 if objectness else 4
    rows = min(shape[1], shape[2])
    if rows <= first:
        raise LayoutError("%s: output %s is %s; expected %s" % (what, name, fmt_shape(shape), layout))
    check_anchors(name, shape, rows, w, h, what)
    head = Head(graph, "detect")
    x, n = to_anchor_rows(head, name, shape, rows, what)

    # cx, cy, w, h in input pixels -> x1, y1, x2, y2 as fractions of the input
    to_corners = np.array([[1 / w, 0, 1 / w, 0],
                           [0, 1 / h, 0, 1 / h],
                           [-0.5 / w, 0, 0.5 / w, 0],
                           [0, -0.5 / h, 0, 0.5 / h]], np.float32)
    box = head.node("MatMul", [head.slice_cols(x, 0, 4), head.const("to_corners", to_corners)], "corners")
    # negative corners would make platebench read the row score-fifth
    box = head.clamp(box, 0.0, 1.0)
    classes = head.slice_cols(x, first, rows)
    score = head.node("ReduceMax", [classes], "score", axes=[1], keepdims=1)
    if objectness:
        score = head.node("Mul", [score, head.slice_cols(x, 4, 5)], "score")
    label = head.node("Cast", [head.node("ArgMax", [classes], "label", axis=1, keepdims=1)],
                      "label_f", to=TensorProto.FLOAT)
    table = head.node("Concat", [label, score, box], "table", axis=1)

    k = min(top_k, n)
    scores = head.reshape(score, [1, n])
    picked = []
    for _ in range(k):
        one_hot = head.one_hot_of_best(scores, n)
        picked.append(head.node("MatMul", [one_hot, table], "row"))
        # a picked row can never win again: scores are probabilities
        taken = head.node("Mul", [one_hot, head.const("taken", np.array([1e9], np.float32))])
        scores = head.node("Sub", [scores, taken], "scores")
    best = head.node("Concat", picked, "rows", axis=0) if k > 1 else picked[0]
    out = head.reshape(best, [1, k, 6])
    replace_outputs(graph, out, [1, k, 6], "rows")
    return {"anchors": n, "classes": rows - first, "rows": k,
            "layout": "1x%dx%d" % (shape[1], shape[2])}


def pose_rows(rows, classes):
    """Keypoint values per keypoint (2 or 3) when rows hold 4 of them, else None."""
    left = rows - 4 - classes
    for per in (3, 2):
        if left == 4 * per:
            return per
    return None


def yolo_pose_corners_head(graph, outputs, w, h, classes, order):
    """One YOLO pose output with four keypoints -> 1 x 8 corners (tl, tr, br,
    bl) of the best instance, as fractions of the input."""
    what = "--yolo-pose-corners"
    layout = "1 x (4 + classes + 4 keypoints x 3) x anchors or its transpose"
    name, shape = yolo_output(outputs, w, h, what, layout)
    fits = [d for d in (shape[1], shape[2]) if pose_rows(d, classes)]
    if not fits:
        seen = min(shape[1], shape[2])
        kp = (seen - 4 - classes) / 3.0
        raise LayoutError("%s: output %s is %s: %d values per anchor are 4 box + %d class + %s "
                          "keypoint values; the corner stage needs 4 keypoints (x, y[, visibility])"
                          % (what, name, fmt_shape(shape), seen, classes,
                             "%g x 3" % kp if kp == int(kp) else str(seen - 4 - classes)))
    rows = min(fits)
    per = pose_rows(rows, classes)
    check_anchors(name, shape, rows, w, h, what)
    head = Head(graph, "corners")
    x, n = to_anchor_rows(head, name, shape, rows, what)
    score = head.node("ReduceMax", [head.slice_cols(x, 4, 4 + classes)], "score", axes=[1], keepdims=1)
    one_hot = head.one_hot_of_best(head.reshape(score, [1, n]), n)
    points = head.node("MatMul", [one_hot, head.slice_cols(x, 4 + classes, rows)], "points")
    pick = np.zeros((4 * per, 8), np.float32)
    for corner, kp in enumerate(order):
        pick[kp * per, 2 * corner] = 1.0 / w
        pick[kp * per + 1, 2 * corner + 1] = 1.0 / h
    corners = head.node("MatMul", [points, head.const("pick", pick)], "corners")
    # within [-1, 2] both programs still read the values as fractions, and a
    # corner off the picture stays off it for cornercheck's validity test
    out = head.clamp(corners, -1.0, 2.0)
    replace_outputs(graph, out, [1, 8], "corners")
    return {"anchors": n, "values_per_keypoint": per, "layout": "1x%dx%d" % (shape[1], shape[2])}


def check_ppocr_det(outputs):
    what = "--ppocr-det"
    if len(outputs) != 1:
        raise LayoutError("%s: the graph has %d outputs; a text detector export has one probability map"
                          % (what, len(outputs)))
    name, shape = outputs[0]
    if len(shape) != 4 or shape[0] != 1 or shape[1] != 1 or shape[2] != shape[3]:
        raise LayoutError("%s: output %s is %s; the text detection stage reads one square map "
                          "1 x 1 x S x S" % (what, name, fmt_shape(shape)))
    return {"map": shape[2]}


def read_dict_entries(path):
    """Entries as platebench loads them: lines trimmed of C-locale white space,
    blank lines dropped, no byte-order-mark handling."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise SystemExit("cannot read dictionary %s: %s" % (path, e.strerror))
    return [line for line in (raw.strip(b" \t\n\v\f\r") for raw in data.split(b"\n")) if line]


def ppocr_rec_head(graph, outputs, dict_size):
    """Checks the recogniser output is 1 x T x C with C on the last axis, the
    way the recognition stage reads it; a sequence-first T x 1 x C export is
    transposed.  With dict_size, C must be dict_size + 1 or + 2 (space class)."""
    what = "--ppocr-rec"
    if len(outputs) != 1:
        raise LayoutError("%s: the graph has %d outputs; a recogniser export has one" % (what, len(outputs)))
    name, shape = outputs[0]
    if len(shape) != 3:
        raise LayoutError("%s: output %s is %s; expected 1 x steps x classes" % (what, name, fmt_shape(shape)))
    info = {}
    if shape[0] != 1 and shape[1] == 1:
        head = Head(graph, "rec")
        out = head.node("Transpose", [name], "batch_first", perm=[1, 0, 2])
        shape = [1, shape[0], shape[2]]
        replace_outputs(graph, out, shape)
        info["transposed"] = True
    elif shape[0] != 1:
        raise LayoutError("%s: output %s is %s; expected 1 x steps x classes" % (what, name, fmt_shape(shape)))
    steps, classes = shape[1], shape[2]
    if dict_size is not None and classes not in (dict_size + 1, dict_size + 2):
        if steps in (dict_size + 1, dict_size + 2):
            raise LayoutError("%s: output %s is %s: its classes are on axis 1; the recognition stage "
                              "reads them on the last axis" % (what, name, fmt_shape(shape)))
        raise LayoutError("%s: the recogniser has %d classes; a dictionary of %d entries fits %d "
                          "(blank + entries) or %d (with the space class)"
                          % (what, classes, dict_size, dict_size + 1, dict_size + 2))
    info.update({"steps": steps, "classes": classes})
    return info
