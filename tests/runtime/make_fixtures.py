"""Models for the runtime layer's tests."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
fx.conv_model(os.path.join(out, "conv.onnx"), (1, 3, 64, 48))
fx.constant_model(os.path.join(out, "two_outputs.onnx"), (1, 3, 16, 32),
                  [("scores", (1, 5, 6), np.arange(30) * 0.5),
                   ("open", (2, 3), np.arange(6) - 2.0)],
                  declare_output_shapes=False)
