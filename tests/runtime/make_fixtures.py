"""Models for the runtime layer's tests."""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
fx.conv_model(os.path.join(out, "conv.onnx"), (1, 3, 64, 48))
fx.constant_model(os.path.join(out, "two_outputs.onnx"), (1, 3, 16, 32),
                  [("scores", (1, 5, 6), np.arange(30) * 0.5),
                   ("open", (2, 3), np.arange(6) - 2.0)],
                  declare_output_shapes=False)


def empty_tensor_model(path, nodes, out_shape, empty_input, inits, as_constant):
    """Nodes on a 1x3x8x8 picture where one tensor has no elements, held either
    as an initializer or as a Constant node's value."""
    x = helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, 8, 8])
    y = helper.make_tensor_value_info("out", TensorProto.FLOAT, out_shape)
    empty = helper.make_tensor(empty_input, TensorProto.FLOAT, [0], [])
    if as_constant:
        nodes = [helper.make_node("Constant", [], [empty_input], value=empty)] + nodes
    else:
        inits = inits + [empty]
    model = helper.make_model(helper.make_graph(nodes, "g", [x], [y], inits),
                              opset_imports=[helper.make_opsetid("", 13)])
    model.ir_version = 7
    onnx.save(model, path)


scales = numpy_helper.from_array(np.asarray([1, 1, 2, 2], np.float32), "scales")
cases = {
    "resize_empty_roi": ([helper.make_node("Resize", ["images", "roi", "scales"], ["out"], mode="nearest")],
                         [1, 3, 16, 16], "roi", [scales]),
    "gemm_empty_weight": ([helper.make_node("Flatten", ["images"], ["flat"]),
                           helper.make_node("Gemm", ["flat", "w"], ["out"], transB=1)], [1, 2], "w", []),
    "conv_empty_weight": ([helper.make_node("Conv", ["images", "w"], ["out"])], [1, 1, 8, 8], "w", []),
}
for name, (nodes, out_shape, empty_input, inits) in cases.items():
    for kind in ("initializer", "constant"):
        empty_tensor_model(os.path.join(out, "%s_%s.onnx" % (name, kind)), nodes, out_shape, empty_input,
                           inits, kind == "constant")
