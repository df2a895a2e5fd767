#!/usr/bin/python3
"""Photographed scenes: a seed fixes them, the plate's corners are those of the plate drawn, scenes
without a plate have none, and training and held-out photographs never mix."""
import os
import sys
import unittest

import cv2
import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from synth import dataset, scene  # noqa: E402

HAVE_PHOTOS = bool(scene.photo_paths("train")) and bool(scene.photo_paths("held_out"))
if not HAVE_PHOTOS and os.environ.get("CI"):
    # CI installs them (scripts/setup.sh), so their absence there is a failure, not a skip
    sys.exit("background photographs not installed: run scripts/setup.sh")


@unittest.skipUnless(HAVE_PHOTOS, "background photographs not installed (tools/train/setup.sh)")
class PhotoScenes(unittest.TestCase):
    def test_a_seed_fixes_the_frames(self):
        a = dataset.render_group(5, 3, 2, scene_kind="photo")
        b = dataset.render_group(5, 3, 2, scene_kind="photo")
        for fa, fb in zip(a, b):
            self.assertEqual(fa["scene"].tobytes(), fb["scene"].tobytes())
            np.testing.assert_array_equal(fa["corners"], fb["corners"])

    def test_the_corners_are_those_of_the_plate_drawn(self):
        plate = np.zeros((160, 320, 3), np.uint8)
        plate[:] = (40, 220, 60)
        for seed in range(6):
            layout = scene.new_scene(np.random.default_rng(seed), (320, 160))
            with_plate, corners = scene.render_scene(plate, np.random.default_rng(100 + seed), layout)
            h, w = with_plate.shape[:2]
            self.assertTrue((corners >= 0).all() and (corners[:, 0] < w).all() and (corners[:, 1] < h).all())
            empty, none = scene.render_scene(plate, np.random.default_rng(100 + seed), dict(layout, negative=True))
            self.assertIsNone(none)
            diff = np.abs(with_plate.astype(np.int32) - empty.astype(np.int32)).sum(axis=2) > 40
            inside = np.zeros((h, w), np.uint8)
            cv2.fillConvexPoly(inside, np.round(corners).astype(np.int32), 1)
            near = cv2.dilate(inside, np.ones((9, 9), np.uint8))
            # the plate changed most of its quad and (blur and JPEG aside) nothing away from it
            self.assertGreater(diff[inside > 0].mean(), 0.6, seed)
            self.assertLess(diff[near == 0].mean(), 0.01, seed)

    def test_scenes_without_a_plate_have_no_plate(self):
        for g in range(4):
            for fr in dataset.render_group(8, g, 2, scene_kind="photo", negative=True):
                self.assertIsNone(fr["corners"])
                self.assertIsNone(fr["roi"])
                self.assertEqual(fr["scene"].ndim, 3)

    def test_plates_are_small_and_large_and_turned(self):
        widths, yaws = [], []
        for seed in range(30):
            layout = scene.new_scene(np.random.default_rng(seed), (640, 320))
            q = layout["quad"]
            widths.append(q[:, 0].max() - q[:, 0].min())
            yaws.append(abs(np.degrees(layout["pose"]["yaw"])))
        self.assertLess(min(widths), 60)
        self.assertGreater(max(widths), 200)
        self.assertGreater(max(yaws), 25)
        self.assertLessEqual(max(yaws), 40.01)


class Pools(unittest.TestCase):
    def test_training_and_held_out_photographs_are_apart(self):
        self.assertFalse(set(scene.photo_paths("train")) & set(scene.photo_paths("held_out")))
        packages = {p: pool for p, _, pool, _ in scene.PHOTO_SOURCES}
        self.assertEqual(set(packages.values()), {"train", "held_out"})

    def test_the_training_set_up_installs_every_photograph_package(self):
        with open(os.path.join(ROOT, "tools", "train", "setup.sh"), encoding="utf-8") as f:
            words = f.read().split()
        self.assertEqual([p for p in scene.debian_packages() if p not in words], [])

    def test_classic_scenes_do_not_take_a_negative(self):
        with self.assertRaises(ValueError):
            dataset.render_group(1, 0, 1, negative=True)


if __name__ == "__main__":
    unittest.main()
