#!/usr/bin/python3
"""Each adapter on stand-ins of every export layout and opset: the compiled
model, run by OpenCV's dnn as the runtime runs it, equals a NumPy reference
of the source model followed by what the adapter promises; bad layouts end
with their one line and write no file."""
import contextlib
import io
import os
import sys
import tempfile
import unittest

import numpy as np
import onnx

HERE = os.path.dirname(os.path.abspath(__file__))
# appended: the folder's inspect.py must not hide the standard module
sys.path.append(os.path.join(HERE, "..", "..", "tools", "model_compiler"))
import adapters  # noqa: E402
import compile as model_compiler  # noqa: E402
import fold  # noqa: E402
import standins  # noqa: E402

import cv2  # noqa: E402

cv2.setNumThreads(1)
OPSETS = (11, 12, 13, 17)
IMAGENET = ([0.485, 0.456, 0.406], [0.229, 0.224, 0.225])  # PaddleOCR's detector, on BGR


def run_compiled(path, raw):
    net = cv2.dnn.readNetFromONNX(path)
    net.setInput(raw.astype(np.float32))
    return net.forward(onnx.load(path).graph.output[0].name)


def normalise(raw, mean, std, bgr):
    x = raw[:, ::-1] if bgr else raw
    return (x / 255.0 - np.reshape(mean, (1, 3, 1, 1))) / np.reshape(std, (1, 3, 1, 1))


def anchor_rows(out, rows):
    """(1, C, N) or (1, N, C) -> N x C."""
    out = out[0]
    return out.T if out.shape[0] == rows else out


def detect_reference(out, w, h, classes, objectness, k):
    first = 5 if objectness else 4
    a = anchor_rows(out, first + classes)
    cx, cy, bw, bh = a[:, 0], a[:, 1], a[:, 2], a[:, 3]
    box = np.clip(np.stack([(cx - bw / 2) / w, (cy - bh / 2) / h, (cx + bw / 2) / w, (cy + bh / 2) / h], 1), 0, 1)
    cls = a[:, first:]
    score = cls.max(1) * (a[:, 4] if objectness else 1.0)
    table = np.concatenate([cls.argmax(1)[:, None], score[:, None], box], 1)
    return table[np.argsort(-score, kind="stable")[:k]]


def assert_rows_match(test, got, want, atol=2e-6):
    """Rows best first; rows whose scores differ by less than float noise may
    come in either order, so those runs are compared as sets."""
    test.assertEqual(got.shape, want.shape)
    np.testing.assert_allclose(got[:, 1], want[:, 1], atol=atol)
    start = 0
    for end in range(1, len(want) + 1):
        if end == len(want) or want[end - 1, 1] - want[end, 1] > 1e-5:
            # by the box: the scores of a run differ in float noise alone
            order = lambda rows: rows[np.lexsort(rows[:, 5:1:-1].T)]  # noqa: E731
            np.testing.assert_allclose(order(got[start:end]), order(want[start:end]), atol=atol)
            start = end


def corners_reference(out, w, h, classes, per, order):
    a = anchor_rows(out, 4 + classes + 4 * per)
    best = a[np.argmax(a[:, 4:4 + classes].max(1))]
    kp = best[4 + classes:].reshape(4, per)
    return np.clip(np.concatenate([[kp[i, 0] / w, kp[i, 1] / h] for i in order]), -1, 2)


def compile_quiet(src, dst, args):
    """compile.py's main on argv; (exit message or None, stdout)."""
    out = io.StringIO()
    try:
        with contextlib.redirect_stdout(out):
            model_compiler.main([src, dst] + args)
    except SystemExit as e:
        return str(e), out.getvalue()
    return None, out.getvalue()


class AdapterCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="pb_test_adapters_")
        self.rng = np.random.default_rng(7)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def compiled(self, model, args, name="m"):
        src, dst = self.path(name + ".onnx"), self.path(name + ".rknn")
        onnx.save(model, src)
        err, _ = compile_quiet(src, dst, args)
        self.assertIsNone(err)
        return dst

    def raw(self, w, h):
        return self.rng.integers(0, 256, (1, 3, h, w)).astype(np.float64)


class YoloDetect(AdapterCase):
    # layout, classes, dynamic dims, top-k, input size (84 anchors at 64x64), anchors traced from shapes
    CASES = [("v8", 1, "batch", 100, (320, 256), False), ("v8", 3, "all", 5, (320, 256), False),
             ("v8", 2, "none", 1, (320, 256), False), ("v8", 1, "batch", 100, (64, 64), False),
             ("v8", 2, "all", 10, (320, 256), True),
             ("transposed", 1, "all", 100, (320, 256), False), ("transposed", 4, "batch", 7, (320, 256), False),
             ("transposed", 1, "all", 3, (320, 256), True),
             ("objectness", 1, "batch", 100, (320, 256), False), ("objectness", 3, "all", 10, (320, 256), False)]

    def test_rows_equal_the_reference_best_first(self):
        for opset in OPSETS:
            for layout, classes, dynamic, k, (w, h), traced in self.CASES:
                with self.subTest(opset=opset, layout=layout, classes=classes, dynamic=dynamic, k=k, size=(w, h),
                                  traced=traced):
                    model, ref = standins.yolo("detect", classes, layout, opset, dynamic, size=(w, h), seed=opset,
                                               traced=traced)
                    args = ["--yolo-detect", "--top-k", str(k)] + (["--objectness"] if layout == "objectness" else [])
                    if dynamic == "all":
                        args += ["--input-size", "%dx%d" % (w, h)]
                    dst = self.compiled(model, args)
                    raw = self.raw(w, h)
                    got = run_compiled(dst, raw)
                    want = detect_reference(ref(raw / 255.0), w, h, classes, layout == "objectness", k)
                    self.assertEqual(got.shape, (1, min(k, want.shape[0]), 6))
                    assert_rows_match(self, got[0], want)

    def test_tied_scores_come_out_in_anchor_order(self):
        # a flat picture gives every anchor of a scale the same score
        model, ref = standins.yolo("detect", 1, "v8", 12, size=(128, 128))
        dst = self.compiled(model, ["--yolo-detect", "--top-k", "40"])
        for level in (0, 97, 255):
            with self.subTest(level=level):
                raw = np.full((1, 3, 128, 128), float(level))
                out = ref(raw / 255.0)
                want = detect_reference(out, 128, 128, 1, False, 40)
                self.assertEqual(len(np.unique(want[:, 1])), 1, "the first 40 rows tie")
                got = run_compiled(dst, raw)[0]
                # a 32 x 32 float pool of one value drifts a little from float64
                np.testing.assert_allclose(got, want, atol=1e-5)

    def test_raw_maps_beside_the_decoded_output_are_left_out(self):
        model, ref = standins.yolo("detect", 2, "objectness", 12, size=(320, 256), raw_maps=True)
        self.assertEqual(len(model.graph.output), 4)
        dst = self.compiled(model, ["--yolo-detect", "--objectness", "--top-k", "3"])
        self.assertEqual([o.name for o in onnx.load(dst).graph.output], ["rows"])
        raw = self.raw(320, 256)
        want = detect_reference(ref(raw / 255.0), 320, 256, 2, True, 3)
        np.testing.assert_allclose(run_compiled(dst, raw)[0], want, atol=2e-6)

    def test_input_size_defaults_to_the_graphs_own(self):
        model, _ = standins.yolo("detect", 1, "v8", 12, "batch", size=(192, 128))
        dst = self.compiled(model, ["--yolo-detect"])
        dims = [d.dim_value for d in onnx.load(dst).graph.input[0].type.tensor_type.shape.dim]
        self.assertEqual(dims, [1, 3, 128, 192])


class YoloPoseCorners(AdapterCase):
    # classes, values per keypoint, layout, corner order
    CASES = [(1, 3, "v8", [0, 1, 2, 3]), (1, 2, "v8", [0, 1, 2, 3]), (2, 3, "transposed", [0, 1, 2, 3]),
             (1, 3, "v8", [1, 0, 3, 2]), (3, 2, "transposed", [3, 2, 1, 0])]

    def test_corners_equal_the_reference_of_the_best_instance(self):
        w, h = 256, 128
        for opset in OPSETS:
            for classes, per, layout, order in self.CASES:
                with self.subTest(opset=opset, classes=classes, per=per, layout=layout, order=order):
                    model, ref = standins.yolo("pose", classes, layout, opset, "all", size=(w, h),
                                               per_keypoint=per, seed=opset + per)
                    dst = self.compiled(model, ["--yolo-pose-corners", "--classes", str(classes),
                                                "--corner-order", ",".join(map(str, order))])
                    raw = self.raw(w, h)
                    got = run_compiled(dst, raw)
                    self.assertEqual(got.shape, (1, 8))
                    want = corners_reference(ref(raw / 255.0), w, h, classes, per, order)
                    np.testing.assert_allclose(got[0], want, atol=2e-6)


class PaddleOcr(AdapterCase):
    def test_detector_map_equals_the_reference_with_bgr_imagenet_folded(self):
        for opset in OPSETS:
            for dynamic in ("all", "batch", "none"):
                with self.subTest(opset=opset, dynamic=dynamic):
                    model, ref = standins.ppocr_det(opset, dynamic, seed=opset)
                    dst = self.compiled(model, ["--ppocr-det"])
                    raw = self.raw(640, 640)
                    got = run_compiled(dst, raw)
                    np.testing.assert_allclose(got, ref(normalise(raw, *IMAGENET, bgr=True)), atol=1e-5)

    def test_normalisation_options_over_the_toolkits(self):
        # extra arguments, the (mean, std, bgr) the compiled model must fold in
        cases = [([], IMAGENET + (True,)),
                 (["--mean", "0.5,0.4,0.3", "--std", "0.2,0.2,0.2"], ([0.5, 0.4, 0.3], [0.2, 0.2, 0.2], True)),
                 (["--rgb"], IMAGENET + (False,)),
                 (["--unit-range", "--rgb"], ([0.0] * 3, [1.0] * 3, False))]
        model, ref = standins.ppocr_det(12, "all")
        for extra, (mean, std, bgr) in cases:
            with self.subTest(extra=extra):
                dst = self.compiled(model, ["--ppocr-det"] + extra)
                raw = self.raw(640, 640)
                np.testing.assert_allclose(run_compiled(dst, raw), ref(normalise(raw, mean, std, bgr)), atol=1e-5)

    def test_recogniser_output_is_batch_first_and_matches_the_reference(self):
        for opset in OPSETS:
            for seq_first in (False, True):
                with self.subTest(opset=opset, seq_first=seq_first):
                    model, ref = standins.ppocr_rec(12, opset, "width", seq_first=seq_first, seed=opset)
                    dst = self.compiled(model, ["--ppocr-rec"])
                    raw = self.raw(320, 48)
                    got = run_compiled(dst, raw)
                    want = ref(normalise(raw, [0.5] * 3, [0.5] * 3, bgr=True))
                    if seq_first:
                        want = want.transpose(1, 0, 2)
                    self.assertEqual(got.shape, (1, 40, 12))
                    np.testing.assert_allclose(got, want, atol=1e-5)

    def test_dictionary_sizes_the_recogniser_accepts(self):
        # classes, dictionary lines (as written), accepted, what is printed
        cases = [(11, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n", True, "10 entries, fits\n"),
                 (12, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n", True, "fits; platebench appends the space class"),
                 (12, "0\r\n1\r\n\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n \r\n", True, "10 entries"),
                 (13, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n", False, "13 classes; a dictionary of 10 entries fits 11"),
                 (11, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n0\n", False, "dictionary of 11 entries")]
        for classes, text, ok, message in cases:
            with self.subTest(classes=classes, text=text):
                with open(self.path("keys.txt"), "w", encoding="utf-8", newline="") as f:
                    f.write(text)
                model, _ = standins.ppocr_rec(classes, 11)
                onnx.save(model, self.path("rec.onnx"))
                err, out = compile_quiet(self.path("rec.onnx"), self.path("rec.rknn"),
                                         ["--ppocr-rec", "--dict", self.path("keys.txt")])
                self.assertEqual(err is None, ok, err)
                self.assertIn(message, out if ok else err)
                self.assertEqual(os.path.exists(self.path("rec.rknn")), ok)
                if ok:
                    self.assertIn("recogniser classes: %d; the dictionary needs %d entries"
                                  % (classes, classes - 1), out)
                    os.remove(self.path("rec.rknn"))


def nms_export():
    """1 x 300 x (x1, y1, x2, y2, score, class), as end-to-end exports give."""
    g = standins.Graph(12)
    pooled = g.node("GlobalAveragePool", ["images"])
    flat = g.node("Flatten", [pooled], axis=1)
    g.node("Reshape", [g.node("Gemm", [flat, g.const(np.zeros((1800, 3), np.float32)),
                                       g.const(np.zeros(1800, np.float32))], transB=1),
                       g.const(np.array([1, 300, 6], np.int64))])
    inputs = [onnx.helper.make_tensor_value_info("images", onnx.TensorProto.FLOAT, [1, 3, 320, 320])]
    return g.model(inputs, "output0", [1, 300, 6], "nms")


def two_outputs():
    model, _ = standins.yolo("detect", 1, "v8", 12, size=(320, 320))
    model.graph.node.append(onnx.helper.make_node("Sigmoid", ["output0"], ["copy"]))
    model.graph.output.append(onnx.helper.make_tensor_value_info("copy", onnx.TensorProto.FLOAT, [1, 5, 2100]))
    return model


def segmentation():
    """Rows with 32 mask coefficients, and the prototypes beside them."""
    model, _ = standins.yolo("detect", 33, "v8", 12, size=(320, 320))
    g = model.graph
    g.initializer.extend([onnx.numpy_helper.from_array(np.zeros((32, 3, 1, 1), np.float32), "proto_w")])
    g.node.extend([onnx.helper.make_node("AveragePool", ["images"], ["pooled4"], kernel_shape=[4, 4], strides=[4, 4]),
                   onnx.helper.make_node("Conv", ["pooled4", "proto_w"], ["protos"], kernel_shape=[1, 1])])
    g.output.append(onnx.helper.make_tensor_value_info("protos", onnx.TensorProto.FLOAT, [1, 32, 80, 80]))
    return model


class BadLayouts(AdapterCase):
    def test_each_ends_with_its_line_and_writes_nothing(self):
        cases = [
            ("detect on a text map", standins.ppocr_det(11)[0], ["--yolo-detect"],
             "--yolo-detect: output sigmoid_0.tmp_0 is 1x1x640x640; expected 1 x (4 + classes) x anchors"),
            ("detect with objectness on v8 rows", standins.yolo("detect", 1, "v8", 12, size=(320, 320))[0],
             ["--yolo-detect", "--objectness"], "expected 1 x anchors x (5 + classes)"),
            ("rows of an export with NMS inside", nms_export(), ["--yolo-detect"],
             "output output0 is 1x300x6: 300 anchors, where a 320x320 YOLO head has 2100 or 2125 or 6300 or 6375 "
             "(an export with NMS inside"),
            ("two decoded outputs", two_outputs(), ["--yolo-detect"],
             "the graph has 2 outputs (output0, copy), 2 of them holding all anchors"),
            ("segmentation export", segmentation(), ["--yolo-detect"],
             "output protos is 1x32x80x80, mask prototypes at a quarter of the input: a segmentation export"),
            ("pose with 17 keypoints", standins.yolo("pose", 1, "v8", 12, size=(256, 128), keypoints=17)[0],
             ["--yolo-pose-corners"], "is 1x56x672: 56 values per anchor are 4 box + 1 class + 17 x 3 keypoint"),
            ("pose fixed at 640", standins.yolo("pose", 1, "v8", 12, "none", size=(640, 640))[0],
             ["--yolo-pose-corners"], "input images is fixed at 1x3x640x640; the stage feeds 256x128"),
            ("pose at another size", standins.yolo("pose", 1, "v8", 12, "all", size=(256, 128))[0],
             ["--yolo-pose-corners", "--input-size", "320x320"], "the stage feeds 256x128"),
            ("rec of height 32", standins.ppocr_rec(12, 11, height=32)[0], ["--ppocr-rec"],
             "input x is fixed at ?x3x32x?; the stage feeds 320x48"),
            ("rec given to the text detector", standins.ppocr_rec(12, 11, "all")[0], ["--ppocr-det"],
             "--ppocr-det: output softmax_0.tmp_0 is 1x1040x12; the text detection stage reads one square map"),
            ("text detector given to the recogniser", standins.ppocr_det(11)[0], ["--ppocr-rec"],
             "--ppocr-rec: output sigmoid_0.tmp_0 is 1x1x48x320; expected 1 x steps x classes"),
            ("recogniser given to the detector adapter", standins.ppocr_rec(12, 11)[0], ["--yolo-detect"],
             "--yolo-detect: input x is fixed at ?x3x48x?"),
        ]
        for what, model, args, message in cases:
            with self.subTest(what):
                onnx.save(model, self.path("bad.onnx"))
                err, _ = compile_quiet(self.path("bad.onnx"), self.path("bad.rknn"), args)
                self.assertIsNotNone(err)
                self.assertIn(message, err)
                self.assertNotIn("\n", err)
                self.assertFalse(os.path.exists(self.path("bad.rknn")))
                self.assertFalse(os.path.exists(self.path("bad.rknn.tmp")))


def axes_model(op, opset):
    """x (1 x 3 x 8 x 16) -> op over axis 2 with the axes as an input, after a
    Conv so that nothing is folded."""
    g = standins.Graph(opset)
    conv = g.node("Conv", ["x", g.const(np.eye(3, dtype=np.float32).reshape(3, 3, 1, 1))], kernel_shape=[1, 1])
    if op == "Squeeze":
        conv = g.node("ReduceMax", [conv], axes=[2], keepdims=1)
    g.node(op, [conv, g.const(np.array([2], np.int64), "axes")], **({} if op == "Squeeze" else {"keepdims": 0}))
    inputs = [onnx.helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 3, 8, 16])]
    return g.model(inputs, "y", [1, 3, 16], op)


def div_model(const_shape):
    """c / Conv(x) with c of the given shape, broadcast against 1 x 3 x 8 x 16."""
    g = standins.Graph(12)
    conv = g.node("Conv", ["x", g.const(np.eye(3, dtype=np.float32).reshape(3, 3, 1, 1)),
                           g.const(np.ones(3, np.float32))], kernel_shape=[1, 1])
    c = np.arange(1, 1 + np.prod(const_shape), dtype=np.float32).reshape(const_shape)
    g.node("Div", [g.const(c, "c"), conv])
    inputs = [onnx.helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 3, 8, 16])]
    return g.model(inputs, "y", [1, 3, 8, 16], "div"), (16, 8), lambda raw: c / (raw + 1.0), [None, None]


def conv_without_kernel_shape():
    rng = np.random.default_rng(2)
    w = rng.normal(0, 0.1, (2, 3, 3, 3)).astype(np.float32)
    g = standins.Graph(12)
    g.node("Conv", ["x", g.const(w)], pads=[1, 1, 1, 1])
    inputs = [onnx.helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 3, 8, 16])]

    def reference(raw):
        padded = np.pad(raw, ((0, 0), (0, 0), (1, 1), (1, 1)))
        return np.stack([sum(np.einsum("c,nchw->nhw", w[o, :, dy, dx], padded[:, :, dy:dy + 8, dx:dx + 16])
                             for dy in range(3) for dx in range(3)) for o in range(2)], axis=1)

    return g.model(inputs, "y", [1, 2, 8, 16], "conv"), (16, 8), reference, [None, None]


def layer_norm():
    rng = np.random.default_rng(3)
    scale, shift = rng.normal(1, 0.2, 16).astype(np.float32), rng.normal(0, 0.2, 16).astype(np.float32)
    g = standins.Graph(17)
    conv = g.node("Conv", ["x", g.const(np.eye(3, dtype=np.float32).reshape(3, 3, 1, 1))], kernel_shape=[1, 1])
    g.node("LayerNormalization", [conv, g.const(scale), g.const(shift)], axis=-1, epsilon=1e-5)
    inputs = [onnx.helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 3, 8, 16])]

    def reference(raw):
        centred = raw - raw.mean(axis=-1, keepdims=True)
        return centred / np.sqrt((centred ** 2).mean(axis=-1, keepdims=True) + 1e-5) * scale + shift

    return g.model(inputs, "y", [1, 3, 8, 16], "ln"), (16, 8), reference, [None, None]


def split_case(opset, traced=False):
    model, ref = standins.yolo("detect", 2, "v8", opset, size=(64, 64), traced=traced)
    return model, (64, 64), lambda raw: ref(raw / 255.0), [[0.0] * 3, [1.0] * 3]


def axes_case(op, opset, reference):
    return axes_model(op, opset), (16, 8), reference, [None, None]


class ConstantFolding(unittest.TestCase):
    # op, constant inputs, attributes, the value ONNX defines
    CASES = [
        ("Gather", [np.array([1, 3, 8, 16]), np.array(2)], {"axis": 0}, np.array(8)),
        ("Cast", [np.array([3, 4])], {"to": onnx.TensorProto.FLOAT}, np.array([3.0, 4.0], np.float32)),
        ("Range", [np.float32(0.5), np.float32(3.0), np.float32(1.0)], {}, np.array([0.5, 1.5, 2.5], np.float32)),
        ("Div", [np.array([7, -7]), np.array([2, 2])], {}, np.array([3, -3])),
        ("Div", [np.float32([3.0]), np.float32([2.0])], {}, np.float32([1.5])),
        ("Unsqueeze", [np.array([4, 5])], {"axes": [0, -1]}, np.array([[[4], [5]]])),
        ("Unsqueeze", [np.array([4, 5]), np.array([1])], {}, np.array([[4], [5]])),
        ("Squeeze", [np.zeros((1, 3, 1))], {"axes": [2]}, np.zeros((1, 3))),
        ("Reshape", [np.arange(6), np.array([0, -1])], {}, np.arange(6).reshape(6, 1)),  # 0 copies a dim
        ("Reshape", [np.arange(6).reshape(2, 3), np.array([0, -1])], {}, np.arange(6).reshape(2, 3)),
        ("Expand", [np.float32([[1.0], [2.0]]), np.array([2, 3])], {}, np.float32([[1, 1, 1], [2, 2, 2]])),
        ("ConstantOfShape", [np.array([2])], {"value": onnx.numpy_helper.from_array(np.float32([8.0]))},
         np.float32([8.0, 8.0])),
        ("Slice", [np.arange(10), np.array([1]), np.array([9]), np.array([0]), np.array([3])], {}, np.array([1, 4, 7])),
        ("Where", [np.array([True, False]), np.array([1, 2]), np.array([3, 4])], {}, np.array([1, 4])),
        ("Concat", [np.array([1]), np.array([2, 3])], {"axis": 0}, np.array([1, 2, 3])),
        ("Tile", [np.array([1, 2]), np.array([2])], {}, np.array([1, 2, 1, 2])),
    ]

    def test_each_op_folds_to_its_value(self):
        for op, args, attrs, want in self.CASES:
            with self.subTest(op=op, args=[a.tolist() for a in args]):
                names = ["in%d" % i for i in range(len(args))]
                node = onnx.helper.make_node(op, names, ["folded"], **attrs)
                use = onnx.helper.make_node("Identity", ["folded"], ["out"])
                graph = onnx.helper.make_graph(
                    [node, use], "f", [], [onnx.helper.make_tensor_value_info("out", onnx.TensorProto.FLOAT, None)],
                    [onnx.numpy_helper.from_array(np.asarray(a), n) for a, n in zip(args, names)])
                # the evaluator takes axes as attribute or input, whatever the opset says
                model = onnx.helper.make_model(graph, opset_imports=[onnx.helper.make_opsetid("", 13)])
                self.assertEqual(fold.fold_constants(model), 1)
                got = {t.name: onnx.numpy_helper.to_array(t) for t in model.graph.initializer}["folded"]
                np.testing.assert_array_equal(got, want)
                self.assertEqual(got.dtype, np.asarray(want).dtype)

    def test_shape_of_an_inferred_tensor_and_what_stays(self):
        g = standins.Graph(13)
        conv = g.node("Conv", ["x", g.const(np.ones((4, 3, 1, 1), np.float32))], kernel_shape=[1, 1])
        shape = g.node("Shape", [conv])
        leading = g.node("Slice", [shape, g.const(np.array([0])), g.const(np.array([2]))])
        g.node("Reshape", [conv, g.node("Concat", [leading, g.const(np.array([-1]))], axis=0)])
        inputs = [onnx.helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 3, 8, 16])]
        model = g.model(inputs, "y", [1, 4, 128], "shape")
        self.assertEqual(fold.fold_constants(model), 3)
        self.assertEqual([n.op_type for n in model.graph.node], ["Conv", "Reshape"])
        values = {t.name: onnx.numpy_helper.to_array(t) for t in model.graph.initializer}
        np.testing.assert_array_equal(values[model.graph.node[1].input[1]], [1, 4, -1])


class OpenCvReason(unittest.TestCase):
    def test_the_line_that_says_what_failed(self):
        importer = ("OpenCV(4.6.0) ./modules/dnn/src/onnx/onnx_importer.cpp:1040: error: (-2:Unspecified error) in "
                    "function 'handleNode'\n> Node [Range@ai.onnx]:(r_1) parse error: OpenCV(4.6.0) ./modules/dnn/"
                    "src/layer_internals.hpp:110: error: (-2:Unspecified error) Can't create layer \"r_1\" of type "
                    "\"Range\" in function 'getLayerInstance'\n> ")
        forward = ("OpenCV(4.6.0) ./modules/dnn/include/opencv2/dnn/shape_utils.hpp:170: error: (-215:Assertion "
                   "failed) start <= (int)shape.size() in function 'total'\n")
        cases = [(importer, "Node [Range@ai.onnx]:(r_1) parse error: Can't create layer \"r_1\" of type \"Range\" "
                            "in function 'getLayerInstance'"),
                 (forward, "start <= (int)shape.size() in function 'total'"),
                 ("\n> \n", "no reason given")]
        for text, want in cases:
            with self.subTest(text=text[:40]):
                self.assertEqual(adapters.opencv_reason(text), want)


class GraphRewrites(AdapterCase):
    # what OpenCV 4.6 refuses or gets wrong on its own, and the NumPy meaning
    CASES = [("strides 1 x anchors", 12, lambda: split_case(12)),
             ("constant / x", 12, lambda: div_model((1, 3, 8, 16))),
             ("Conv without kernel_shape", 12, conv_without_kernel_shape),
             ("LayerNormalization", 17, layer_norm),
             ("constant / x along W", 12, lambda: div_model((1, 1, 1, 16))),
             ("anchors from Shape and Range", 12, lambda: split_case(12, traced=True)),
             ("anchors from Shape and Range", 13, lambda: split_case(13, traced=True)),
             ("anchors from Shape and Range", 17, lambda: split_case(17, traced=True)),
             ("Split", 13, lambda: split_case(13)),
             ("Split", 17, lambda: split_case(17)),
             ("Squeeze", 13, lambda: axes_case("Squeeze", 13, lambda x: x.max(axis=2))),
             ("ReduceSum", 13, lambda: axes_case("ReduceSum", 13, lambda x: x.sum(axis=2))),
             ("ReduceMean", 18, lambda: axes_case("ReduceMean", 18, lambda x: x.mean(axis=2))),
             ("ReduceMax", 18, lambda: axes_case("ReduceMax", 18, lambda x: x.max(axis=2)))]

    def test_rewritten_graph_computes_what_the_source_means(self):
        for op, opset, build in self.CASES:
            with self.subTest(op=op, opset=opset):
                model, (w, h), reference, (mean, std) = build()
                src, dst = self.path("rw.onnx"), self.path("rw.rknn")
                onnx.save(model, src)
                model_compiler.compile_model(src, dst, w, h, mean, std, quiet=True)
                raw = self.raw(w, h)
                np.testing.assert_allclose(run_compiled(dst, raw), reference(raw), rtol=1e-5, atol=1e-4)


if __name__ == "__main__":
    unittest.main()
