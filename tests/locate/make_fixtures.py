"""Models with chosen outputs for the plate detector and corner tests."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
DET_INPUT = (1, 3, 96, 128)
CORNER_INPUT = (1, 3, 128, 256)
nan = float("nan")

# Two tensors: a normalised score-second row and a too-small row, then a pixel score-fifth row.
fx.constant_model(os.path.join(out, "det_rows.onnx"), DET_INPUT,
                  [("rows", (1, 2, 6), [0, 0.8, 0.1, 0.2, 0.5, 0.9,
                                        0, 0.99, 10, 10, 18, 40]),
                   ("more", (1, 1, 6), [5, 5, 60, 50, 0.95, 0])])
fx.constant_model(os.path.join(out, "det_malformed.onnx"), DET_INPUT, [("rows", (1, 13), np.full(13, 0.5))])

fx.constant_model(os.path.join(out, "corner_unit.onnx"), CORNER_INPUT, [("pts", (1, 8), [0, 0, 1, 0, 1, 1, 0, 1])])
fx.constant_model(os.path.join(out, "corner_short.onnx"), CORNER_INPUT, [("pts", (1, 7), np.zeros(7))])
fx.constant_model(os.path.join(out, "corner_mixed.onnx"), CORNER_INPUT,
                  [("pts", (1, 9), [150.0, 1.5, 1.9, 40.0, -0.1, 0.5, nan, nan, 7.0])])
