"""Corner models with fixed outputs and plate pictures for the cornercheck tests."""
import os
import sys

import cv2
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import onnx_fixtures as fx  # noqa: E402

out = sys.argv[1]
GOOD = [0.1, 0.2, 0.9, 0.2, 0.9, 0.8, 0.1, 0.8]
SWAPPED = [0.9, 0.2, 0.1, 0.2, 0.1, 0.8, 0.9, 0.8]  # left and right exchanged


def corner_model(name, values, input_shape=(1, 3, 128, 256)):
    fx.constant_model(os.path.join(out, name), input_shape, [("corners", (1, len(values)), values)])


corner_model("corner_good.rknn", GOOD)
corner_model("corner_swapped.rknn", SWAPPED)
corner_model("corner_seven.rknn", GOOD[:7])
corner_model("corner_small_input.rknn", GOOD, input_shape=(1, 3, 32, 64))
with open(os.path.join(out, "not_a_model.rknn"), "w") as f:
    f.write("this is no model\n")

# A white plate with a dark frame and some strokes, 400 by 200.
plate = np.full((200, 400, 3), 255, np.uint8)
cv2.rectangle(plate, (40, 40), (360, 160), (20, 20, 20), 3)
cv2.putText(plate, "12-34", (120, 130), cv2.FONT_HERSHEY_SIMPLEX, 2.0, (30, 60, 30), 4)
cv2.imwrite(os.path.join(out, "plate.png"), plate)
