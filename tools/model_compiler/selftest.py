#!/usr/bin/python3
"""Self-test of the model compiler: builds a tiny ONNX model with a dynamic
input, a Clip whose limits are Constant inputs and a channel-sensitive 1x1
convolution, compiles it with BGR reorder and mean/std folding, and checks
the OpenCV result against a NumPy reference.  Exit code 0 on success."""
import sys

# inspect.py in this folder would hide the standard module of that name from
# the libraries imported below; the folder stays reachable at the end
if __name__ == "__main__":
    sys.path.append(sys.path.pop(0))

import os  # noqa: E402
import tempfile  # noqa: E402

import numpy as np  # noqa: E402
import onnx  # noqa: E402
from onnx import helper, numpy_helper, TensorProto  # noqa: E402

import compile as model_compiler  # noqa: E402


def build_tiny_model(path):
    w = np.array([[1.0, 2.0, 3.0], [-1.0, 0.5, 0.25]], np.float32).reshape(2, 3, 1, 1)
    b = np.array([0.1, -0.2], np.float32)
    nodes = [
        helper.make_node("Constant", [], ["lo"], value=numpy_helper.from_array(np.array(-0.5, np.float32))),
        helper.make_node("Constant", [], ["hi"], value=numpy_helper.from_array(np.array(1.5, np.float32))),
        helper.make_node("Conv", ["x", "w", "b"], ["c"], kernel_shape=[1, 1]),
        helper.make_node("Clip", ["c", "lo", "hi"], ["y"]),
        helper.make_node("Constant", [], ["zero"], value=numpy_helper.from_array(np.array(0.0, np.float32))),
        helper.make_node("Clip", ["c", "zero", ""], ["r"]),
        helper.make_node("Add", ["y", "r"], ["out"]),
    ]
    graph = helper.make_graph(
        nodes, "tiny",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, ["n", 3, "h", "w"])],
        [helper.make_tensor_value_info("out", TensorProto.FLOAT, ["n", 2, "h", "w"])],
        [numpy_helper.from_array(w, "w"), numpy_helper.from_array(b, "b")])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 11)])
    onnx.save(model, path)
    return w.reshape(2, 3), b


def reference(raw_rgb, w, b, mean, std):
    bgr = raw_rgb[:, ::-1]
    x = (bgr / 255.0 - np.array(mean).reshape(1, 3, 1, 1)) / np.array(std).reshape(1, 3, 1, 1)
    c = np.einsum("oc,nchw->nohw", w, x) + b.reshape(1, 2, 1, 1)
    return np.clip(c, -0.5, 1.5) + np.maximum(c, 0.0)


def main():
    import cv2
    cv2.setNumThreads(1)
    mean, std = [0.485, 0.456, 0.406], [0.229, 0.224, 0.225]
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "tiny.onnx")
        dst = os.path.join(tmp, "tiny.rknn")
        w, b = build_tiny_model(src)
        shapes, _ = model_compiler.compile_model(src, dst, 8, 4, mean, std, bgr=True, quiet=True)
        if shapes != [(1, 2, 4, 8)]:
            print("FAIL: output shapes %s" % shapes)
            return 1
        rng = np.random.default_rng(1)
        raw = rng.integers(0, 256, size=(1, 3, 4, 8)).astype(np.float32)
        net = cv2.dnn.readNetFromONNX(dst)
        net.setInput(raw)
        got = net.forward()
        want = reference(raw.astype(np.float64), w, b, mean, std)
        err = float(np.max(np.abs(got - want)))
        if err > 1e-3:
            print("FAIL: max abs error %.6f" % err)
            return 1
        loaded = onnx.load(dst)
        dims = [d.dim_value for d in loaded.graph.input[0].type.tensor_type.shape.dim]
        if dims != [1, 3, 4, 8]:
            print("FAIL: input dims %s" % dims)
            return 1
        pooled_dst = os.path.join(tmp, "tiny_pooled.rknn")
        shapes, _ = model_compiler.compile_model(src, pooled_dst, 8, 4, mean, std, bgr=True, pool=2, quiet=True)
        if shapes != [(1, 2, 2, 4)]:
            print("FAIL: pooled output shapes %s" % shapes)
            return 1
        net = cv2.dnn.readNetFromONNX(pooled_dst)
        net.setInput(raw)
        got = net.forward()
        pooled = raw.reshape(1, 3, 2, 2, 4, 2).mean(axis=(3, 5)).astype(np.float64)
        perr = float(np.max(np.abs(got - reference(pooled, w, b, mean, std))))
        if perr > 1e-3:
            print("FAIL: pooled max abs error %.6f" % perr)
            return 1
    print("model compiler selftest: OK (max abs error %.2e)" % err)
    return 0


if __name__ == "__main__":
    sys.exit(main())
