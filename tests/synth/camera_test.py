#!/usr/bin/python3
"""The camera model and the processed crops: a seed fixes them, the crops are grey and their corners
bring back the plate."""
import os
import sys
import unittest

import cv2
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from synth import camera, dataset, plategen  # noqa: E402


def frame(seed=11):
    return dataset.render_group(seed, 0, 1, style="real")[0]


class Shoot(unittest.TestCase):
    def test_a_seed_fixes_the_picture(self):
        img = frame()["scene"]
        quad = np.array([[10, 10], [110, 10], [110, 60], [10, 60]], np.float32)
        a = camera.shoot(np.random.default_rng(3), img, quad)
        b = camera.shoot(np.random.default_rng(3), img, quad)
        self.assertEqual(a.shape, img.shape)
        self.assertEqual(a.dtype, np.uint8)
        self.assertEqual(a.tobytes(), b.tobytes())

    def test_pictures_vary_in_level_and_sharpness(self):
        img = frame()["scene"]
        means, sharp = [], []
        for seed in range(24):
            out = camera.shoot(np.random.default_rng(seed), img)
            means.append(float(out.mean()))
            sharp.append(float(cv2.Laplacian(cv2.cvtColor(out, cv2.COLOR_BGR2GRAY), cv2.CV_32F).var()))
        self.assertGreater(max(means) - min(means), 20.0)
        self.assertGreater(max(sharp), 2.0 * min(sharp))


    def test_frames_of_one_vehicle_share_the_light_and_exposure(self):
        img = np.full((64, 96, 3), 128, np.uint8)
        look = camera.new_look(np.random.default_rng(1))
        shared = [camera.shoot(np.random.default_rng(s), img, look=look).mean() for s in range(16)]
        own = [camera.shoot(np.random.default_rng(s), img).mean() for s in range(16)]
        self.assertLess(np.std(shared), np.std(own))


class ProcessedCrops(unittest.TestCase):
    def test_each_kind_is_grey_and_thresholded_is_black_and_white(self):
        fr = frame()
        for kind in camera.CROP_KINDS:
            for seed in range(6):
                crop, corners, got = camera.processed_crop(np.random.default_rng(seed), fr["scene"], fr["corners"],
                                                           kind=kind, size=(144, 72))
                self.assertEqual(got, kind)
                self.assertEqual(crop.shape, (72, 144, 3))
                spread = crop.astype(int).max(axis=2) - crop.astype(int).min(axis=2)
                self.assertLessEqual(int(spread.max()), 3)
                if kind == "thresholded":
                    extreme = np.mean((crop[..., 0] < 40) | (crop[..., 0] > 215))
                    self.assertGreater(extreme, 0.9)

    def test_the_corners_of_a_crop_bring_back_the_plate(self):
        fr = frame()
        plate = cv2.cvtColor(plategen.rectify(fr["scene"], fr["corners"]), cv2.COLOR_BGR2GRAY).astype(np.float32)
        for seed in range(6):
            crop, corners, _ = camera.processed_crop(np.random.default_rng(seed), fr["scene"], fr["corners"],
                                                     kind="grey")
            back = cv2.cvtColor(plategen.rectify(crop, corners), cv2.COLOR_BGR2GRAY).astype(np.float32)
            r = np.corrcoef(plate.ravel(), back.ravel())[0, 1]
            self.assertGreater(r, 0.85, "seed %d" % seed)

    def test_real_style_frames_carry_a_crop_and_classic_ones_do_not(self):
        real = frame()
        self.assertIn(real["crop_kind"], camera.CROP_KINDS)
        rec = dataset.label_record(real, "s.jpg", "r.jpg", "g1", 1, "c.jpg")
        self.assertEqual((rec["crop_path"], rec["crop_kind"]), ("c.jpg", real["crop_kind"]))
        self.assertIn("font", rec["plate_style"])
        classic = dataset.render_group(11, 0, 1)[0]
        self.assertNotIn("crop", classic)
        # the committed samples' labels have exactly these fields
        self.assertEqual(list(dataset.label_record(classic, "s.jpg", None, "g1", 1)),
                         ["scene_path", "roi_path", "group_id", "frame", "expected", "hard", "hard_reasons", "family",
                          "fields", "rows", "scene_size", "roi_size", "plate_box", "corners_scene", "corners_roi",
                          "line_boxes", "char_boxes"])


if __name__ == "__main__":
    unittest.main()
