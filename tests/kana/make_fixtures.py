"""Recognisers with chosen outputs for the kana fallback's tests."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
REC_INPUT = (1, 3, 48, 320)

# Dictionary used with these: ["1", "か", "ろ", "愛", "あ", "ね"]; classes 0 (blank) .. 6.
# Plain reading 愛 (taken as あ); the constrained reading, without 愛, finds ね above the blank.
direct = np.array([[0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.5],
                   [1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0]], np.float32)
fx.constant_model(os.path.join(out, "rec_direct.onnx"), REC_INPUT, [("logits", (1, 2, 7), direct)])

# Plain reading 1; no kana beats the blank, ろ comes closest.
constrained = np.array([[0.5, 1.0, 0.2, 0.0, 0.0, 0.0, 0.0],
                        [1.0, 0.0, 0.0, 0.9, 0.0, 0.0, 0.0]], np.float32)
fx.constant_model(os.path.join(out, "rec_constrained.onnx"), REC_INPUT, [("logits", (1, 2, 7), constrained)])
