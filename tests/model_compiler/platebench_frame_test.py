#!/usr/bin/python3
"""A YOLO detect and a YOLO pose stand-in, compiled, run through platebench in
frame mode (with the PaddleOCR stand-ins as text models) and through
cornercheck: the plate region platebench cuts is the reference's box, its
rectified plate is the reference corners' warp, and cornercheck reads the
reference corners.  The reference is NumPy on the same resized pictures.

Usage: platebench_frame_test.py PLATEBENCH CORNERCHECK"""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
# appended: the folder's inspect.py must not hide the standard module
sys.path.append(os.path.join(HERE, "..", "..", "tools", "model_compiler"))
import adapters_test as ref  # noqa: E402
import standins  # noqa: E402

import cv2  # noqa: E402
import onnx  # noqa: E402

PLATEBENCH, CORNERCHECK = None, None
DET_SIZE, CORNER_SIZE = (320, 256), (256, 128)


def model_input(picture, size):
    """What the stages hand the model: stretched, RGB, NCHW, 0..1."""
    rgb = cv2.cvtColor(cv2.resize(picture, size, interpolation=cv2.INTER_LINEAR), cv2.COLOR_BGR2RGB)
    return rgb.transpose(2, 0, 1)[None].astype(np.float64) / 255.0


def platebench_box(row, img_w, img_h):
    """The detector stage's rule for a normalised score-second row."""
    xa, ya, xb, yb = (np.float32(v) for v in row[2:6])
    xa, xb = xa * np.float32(img_w), xb * np.float32(img_w)
    ya, yb = ya * np.float32(img_h), yb * np.float32(img_h)
    x1 = max(0, min(img_w - 1, int(np.floor(min(xa, xb)))))
    y1 = max(0, min(img_h - 1, int(np.floor(min(ya, yb)))))
    x2 = max(0, min(img_w - 1, int(np.ceil(max(xa, xb)))))
    y2 = max(0, min(img_h - 1, int(np.ceil(max(ya, yb)))))
    return x1, y1, x2 - x1 + 1, y2 - y1 + 1


def platebench_corners(values, roi_w, roi_h):
    pts = []
    for i in range(4):
        x, y = np.float32(values[2 * i]), np.float32(values[2 * i + 1])
        if x <= 2.0 and y <= 2.0:
            x, y = x * np.float32(roi_w), y * np.float32(roi_h)
        pts.append((max(0.0, min(roi_w - 1.0, float(x))), max(0.0, min(roi_h - 1.0, float(y)))))
    return np.array(pts, np.float32)


def warp(picture, corners):
    target = np.array([[0, 0], [319, 0], [319, 95], [0, 95]], np.float32)
    m = cv2.getPerspectiveTransform(corners, target)
    return cv2.warpPerspective(picture, m, (320, 96), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)


def jpeg_roundtrip(picture):
    return cv2.imdecode(cv2.imencode(".jpg", picture)[1], cv2.IMREAD_COLOR)


def make_scene():
    rng = np.random.default_rng(5)
    scene = rng.integers(30, 90, (300, 400, 3)).astype(np.uint8)
    cv2.rectangle(scene, (130, 140), (290, 200), (235, 235, 235), -1)
    cv2.putText(scene, "12-34", (150, 185), cv2.FONT_HERSHEY_SIMPLEX, 1.1, (20, 20, 20), 3)
    return scene


class PlatebenchFrame(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pb_test_frame_")
        d = cls.tmp.name
        # a dynamic-size export: open input dims, anchors traced from the maps' shapes
        det, det_ref = standins.yolo("detect", 2, "v8", 12, "all", size=DET_SIZE, seed=3, traced=True)
        pose, pose_ref = standins.yolo("pose", 1, "v8", 13, "all", size=CORNER_SIZE, seed=4)
        cls.det_ref, cls.pose_ref = staticmethod(det_ref), staticmethod(pose_ref)
        dict_entries = [str(i) for i in range(10)] + ["-"]
        with open(os.path.join(d, "keys.txt"), "w") as f:
            f.write("\n".join(dict_entries) + "\n")
        sources = {"det": (det, ["--yolo-detect", "--top-k", "20", "--input-size", "%dx%d" % DET_SIZE]),
                   "pose": (pose, ["--yolo-pose-corners"]),
                   "textdet": (standins.ppocr_det(13)[0], ["--ppocr-det"]),
                   "rec": (standins.ppocr_rec(len(dict_entries) + 2, 17)[0],
                           ["--ppocr-rec", "--dict", os.path.join(d, "keys.txt")])}
        for name, (model, args) in sources.items():
            onnx.save(model, os.path.join(d, name + ".onnx"))
            err, _ = ref.compile_quiet(os.path.join(d, name + ".onnx"), os.path.join(d, name + ".rknn"), args)
            assert err is None, err
        cls.scene = make_scene()
        cv2.imwrite(os.path.join(d, "scene.png"), cls.scene)
        with open(os.path.join(d, "list.csv"), "w") as f:
            f.write("image_path,expected,group_id\nscene.png,12-34,G1\n")
        with open(os.path.join(d, "regions.txt"), "w") as f:
            f.write("品川\n")
        cls.bench = subprocess.run(
            [PLATEBENCH, "--input-mode", "frame", "--plate-det-model", "det.rknn", "--plate-corner-model", "pose.rknn",
             "--ppocr-det-model", "textdet.rknn", "--ppocr-rec-model", "rec.rknn", "--dict-region", "regions.txt",
             "--ocr-dict", "keys.txt", "--input-list", "list.csv", "--output-dir", "out"],
            cwd=d, capture_output=True, text=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def case_file(self, name):
        return os.path.join(self.tmp.name, "out", "cases", "scene", name)

    def reference_box(self):
        out = self.det_ref(model_input(self.scene, DET_SIZE))
        best, second = ref.detect_reference(out, DET_SIZE[0], DET_SIZE[1], 2, False, 2)
        self.assertGreaterEqual(best[1], 0.25, "the stand-in's best row must pass the default threshold")
        # an exact tie (anchors over the flat plate) goes to the first anchor in
        # both; in a near tie float noise would pick the row
        gap = best[1] - second[1]
        self.assertTrue(gap == 0 or gap > 1e-4, gap)
        return platebench_box(best, self.scene.shape[1], self.scene.shape[0])

    def reference_corner_values(self, roi):
        out = self.pose_ref(model_input(roi, CORNER_SIZE))
        return ref.corners_reference(out, CORNER_SIZE[0], CORNER_SIZE[1], 1, 3, [0, 1, 2, 3])

    def test_run_ends_normally_and_sees_the_adapted_layouts(self):
        self.assertEqual(self.bench.returncode, 0, self.bench.stderr)
        self.assertIn("output[0] name=rows dims=[1,20,6] elems=120", self.bench.stderr)
        self.assertIn("output[0] name=corners dims=[1,8] elems=8", self.bench.stderr)
        self.assertIn("[INFO] rec_classes=13 ocr_chars_after_shape_check=12 expected_chars=12", self.bench.stderr)
        self.assertIn("output[0] name=sigmoid_0.tmp_0 dims=[1,1,640,640] elems=409600", self.bench.stderr)
        for warning in ("plate_det produced no valid final boxes", "unexpected ppocr det output",
                        "invalid rec output shape", "OCR dict size still does not match"):
            self.assertNotIn(warning, self.bench.stderr)

    def test_plate_region_is_the_reference_box(self):
        x, y, w, h = self.reference_box()
        roi = cv2.imread(self.case_file("plate_roi.jpg")).astype(np.int32)
        self.assertEqual(roi.shape[:2], (h, w))
        # the same OpenCV writes the same JPEG; another build's encoder may round a level apart,
        # while a box one pixel off the noisy scene differs everywhere
        for dx, dy, near in ((0, 0, True), (1, 0, False), (0, 1, False)):
            with self.subTest(dx=dx, dy=dy):
                want = jpeg_roundtrip(self.scene[y + dy:y + dy + h, x + dx:x + dx + w]).astype(np.int32)
                err = np.abs(roi - want).mean()
                self.assertTrue(err < 0.5 if near else err > 5.0, err)

    def test_rectified_plate_is_the_reference_corners_warp(self):
        x, y, w, h = self.reference_box()
        roi = self.scene[y:y + h, x:x + w]
        corners = platebench_corners(self.reference_corner_values(roi), w, h)
        got = cv2.imread(self.case_file("rectified_plate.jpg")).astype(np.int32)
        err = np.abs(got - jpeg_roundtrip(warp(roi, corners)).astype(np.int32)).mean()
        # a corner 1.5 px off changes the picture far more than rounding does
        moved = corners + np.array([[1.5, 0], [0, 0], [0, 0], [0, 0]], np.float32)
        err_moved = np.abs(got - jpeg_roundtrip(warp(roi, moved)).astype(np.int32)).mean()
        self.assertLess(err, 0.1)
        self.assertGreater(err_moved, 10 * max(err, 0.05))

    def test_cornercheck_reads_the_reference_corners(self):
        x, y, w, h = self.reference_box()
        roi = self.scene[y:y + h, x:x + w]
        cv2.imwrite(os.path.join(self.tmp.name, "roi.png"), roi)
        run = subprocess.run([CORNERCHECK, "pose.rknn", "roi.png", "cc"], cwd=self.tmp.name,
                             capture_output=True, text=True)
        self.assertIn(run.returncode, (0, 10), run.stderr)
        with open(os.path.join(self.tmp.name, "cc", "result.txt")) as f:
            line = next(l for l in f if l.startswith("raw_output="))
        got = np.array([float(v) for v in line.split("=", 1)[1].split(",")])
        np.testing.assert_allclose(got, self.reference_corner_values(roi), rtol=1e-5, atol=1e-6)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__)
        sys.exit(2)
    PLATEBENCH, CORNERCHECK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
