#!/usr/bin/python3
"""The plate renderer's real layout: where the characters sit, the dot fillers, the faces and
their missing characters, and that a seed fixes every picture."""
import os
import sys
import unittest

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from synth import dataset, fontset, plategen, realplate  # noqa: E402

WIDTH = 330  # one pixel per millimetre
PLATES = 60


def plan(serial, class_no="500", region="品川", kana="さ", family="private"):
    return {"region": region, "class_no": class_no, "kana": kana, "serial_digits": serial,
            "serial_printed": plategen.printed_serial(serial), "family": family}


def render(p, seed, style="real"):
    return plategen.render_plate(p, np.random.default_rng(seed), width=WIDTH, style=style)


def frac(box, meta):
    w, h = meta["size"]
    return box[0] / w, box[1] / h, (box[0] + box[2]) / w, (box[1] + box[3]) / h


def places(meta):
    """The four serial places as drawn: digits and dots, left to right."""
    return [c for c in meta["char_boxes"] if c["char"] == "・" or (c["char"].isdigit() and c["box"][1] > 0.4 * 165)]


class SerialPlaces(unittest.TestCase):
    def test_four_digit_serial_starts_near_a_quarter_of_the_width(self):
        for seed in range(PLATES):
            # a wide first and last digit, so that the glyph boxes reach the ends of their places
            _, meta = render(plan("8238"), seed)
            x0, y0, x1, y1 = frac(meta["line_boxes"]["serial"], meta)
            self.assertTrue(0.21 <= x0 <= 0.25, "seed %d: serial starts at %.3f" % (seed, x0))
            self.assertTrue(0.88 <= x1 <= 0.97, "seed %d: serial ends at %.3f" % (seed, x1))
            self.assertTrue(0.40 <= y1 - y0 <= 0.52, "seed %d: serial %.3f of the height" % (seed, y1 - y0))

    def test_digits_are_condensed_and_about_a_ninth_of_the_width(self):
        for seed in range(PLATES):
            _, meta = render(plan("8080"), seed)
            for c in places(meta):
                x0, y0, x1, y1 = frac(c["box"], meta)
                self.assertTrue(0.09 <= x1 - x0 <= 0.13, "seed %d: digit %.3f wide" % (seed, x1 - x0))
                self.assertLess(c["box"][2], c["box"][3] * 0.62)

    def test_missing_leading_digits_are_dots_centred_in_their_places(self):
        for serial, dots in (("123", 1), ("12", 2), ("1", 3)):
            for seed in range(10):
                _, meta = render(plan(serial), seed)
                drawn = places(meta)
                self.assertEqual([c["char"] for c in drawn], ["・"] * dots + list(serial))
                self.assertEqual(meta["rows"]["lower"], "さ" + "・" * dots + serial)
                first = frac(drawn[0]["box"], meta)
                cx, cy = (first[0] + first[2]) / 2, (first[1] + first[3]) / 2
                self.assertAlmostEqual(cx, 0.23 + 0.0575, delta=0.025)
                self.assertAlmostEqual(cy, 0.675, delta=0.03)
                self.assertFalse(any(c["char"] == "-" for c in meta["char_boxes"]))

    def test_hyphen_only_with_four_digits_between_the_pairs(self):
        _, meta = render(plan("1234"), 3)
        hyphen = [frac(c["box"], meta) for c in meta["char_boxes"] if c["char"] == "-"]
        self.assertEqual(len(hyphen), 1)
        self.assertTrue(0.52 <= (hyphen[0][0] + hyphen[0][2]) / 2 <= 0.60)


class MeasuredLayout(unittest.TestCase):
    """Averaged over plates, the boxes sit where the measured real plates have their ink."""

    def test_mean_boxes_match_the_measured_plates(self):
        # (what, x from, x to) with the fractions of the measurements; wide digits fill their boxes
        want = [("serial1", 0.23, 0.34), ("serial2", 0.39, 0.51), ("hyphen", 0.54, 0.58), ("serial3", 0.66, 0.77),
                ("serial4", 0.82, 0.94), ("region", 0.25, 0.51), ("class", 0.55, 0.78)]
        got = {k: [] for k, _, _ in want}
        for seed in range(PLATES):
            _, meta = render(plan("8888", class_no="808"), seed)
            for i, c in enumerate(places(meta)):
                got["serial%d" % (i + 1)].append(frac(c["box"], meta))
            got["hyphen"] += [frac(c["box"], meta) for c in meta["char_boxes"] if c["char"] == "-"]
            got["region"].append(frac(meta["line_boxes"]["region"], meta))
            got["class"].append(frac(meta["line_boxes"]["class_no"], meta))
        for k, x0, x1 in want:
            mean = np.mean(got[k], axis=0)
            self.assertAlmostEqual(mean[0], x0, delta=0.02, msg="%s starts at %.3f" % (k, mean[0]))
            self.assertAlmostEqual(mean[2], x1, delta=0.02, msg="%s ends at %.3f" % (k, mean[2]))


class UpperRow(unittest.TestCase):
    def test_region_and_class_number_are_centred_and_equally_tall(self):
        for seed in range(PLATES):
            _, meta = render(plan("1234"), seed)
            lb = meta["line_boxes"]
            up = frac(lb["upper"], meta)
            self.assertAlmostEqual((up[0] + up[2]) / 2, 0.515, delta=0.04)
            region, klass = frac(lb["region"], meta), frac(lb["class_no"], meta)
            self.assertTrue(0.05 <= region[1] and region[3] <= 0.40, "seed %d: region rows %r" % (seed, region))
            self.assertTrue(0.19 <= klass[3] - klass[1] <= 0.29)
            self.assertAlmostEqual((region[3] - region[1]) / (klass[3] - klass[1]), 1.0, delta=0.25)
            self.assertTrue(0.18 <= klass[2] - klass[0] <= 0.27, "seed %d: class %.3f wide" % (seed, klass[2] - klass[0]))

    def test_longer_region_names_are_narrower_per_character_and_stay_on_the_plate(self):
        for region in ("宇都宮", "尾張小牧", "とちぎ"):
            for seed in range(10):
                _, meta = render(plan("1234", region=region), seed)
                up = frac(meta["line_boxes"]["upper"], meta)
                self.assertTrue(0.15 <= up[0] and up[2] <= 0.86, "%s seed %d: row %r" % (region, seed, up))
                rg = frac(meta["line_boxes"]["region"], meta)
                self.assertLess((rg[2] - rg[0]) / len(region), 0.12)

    def test_two_digit_and_letter_class_numbers(self):
        for class_no in ("40", "3", "30A", "5YX"):
            _, meta = render(plan("1234", class_no=class_no), 7)
            drawn = [c["char"] for c in meta["char_boxes"] if c["box"][1] < 0.4 * 165 and len(c["char"]) == 1]
            self.assertEqual("".join(drawn), class_no)
            self.assertEqual(meta["rows"]["upper"], "品川" + class_no)
            up = frac(meta["line_boxes"]["upper"], meta)
            self.assertAlmostEqual((up[0] + up[2]) / 2, 0.515, delta=0.05)


class Condensed(unittest.TestCase):
    """Condensed plates: the plain plate's cells and text with narrower glyphs."""

    def test_same_draws_and_text_as_the_plain_style_with_narrower_digits(self):
        plain_w, cond_w = [], []
        for seed in range(20):
            a = realplate.random_style(np.random.default_rng(seed))
            b = realplate.random_style(np.random.default_rng(seed), condensed=True)
            changed = {"class_w", "region_w", "region_stretch", "class_glyph", "serial_glyph"}
            self.assertEqual({k: v for k, v in a.items() if k not in changed},
                             {k: v for k, v in b.items() if k not in changed})
            p = plan("8080", class_no="808")
            _, m_plain = render(p, seed)
            _, m_cond = render(p, seed, style="real_condensed")
            self.assertEqual(m_plain["rows"], m_cond["rows"])
            for meta, widths in ((m_plain, plain_w), (m_cond, cond_w)):
                digits = [c for c in meta["char_boxes"] if c["char"] == "8"]
                self.assertEqual(len(digits), 4)
                widths.append(np.mean([c["box"][2] / c["box"][3] for c in digits]))
                for c in meta["char_boxes"]:
                    x0, y0, x1, y1 = frac(c["box"], meta)
                    self.assertTrue(0.0 <= x0 and x1 <= 1.0 and 0.0 <= y0 and y1 <= 1.0, c["char"])
        self.assertLess(np.mean(cond_w), np.mean(plain_w) * 0.85)


class Ink(unittest.TestCase):
    def test_every_box_holds_ink_and_the_kana_sits_at_the_left(self):
        for seed in range(20):
            rng = np.random.default_rng(seed)
            p = plategen.random_plate_spec(rng, hard=seed % 2 == 1)
            style = realplate.random_style(rng)
            text, chars, boxes = realplate.text_layout(p, style, WIDTH, WIDTH // 2)
            for c in chars:
                x, y, w, h = [int(round(v)) for v in c["box"]]
                self.assertGreater(text[max(0, y):y + max(1, h), max(0, x):x + max(1, w)].max(), 128, c["char"])
            k = boxes["kana"]
            self.assertTrue(0.03 * WIDTH <= k[0] and k[0] + k[2] <= 0.19 * WIDTH)
            self.assertTrue(0.5 * 165 <= k[1] and k[1] + k[3] <= 0.86 * 165)


class Faces(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(ROOT, "dict", "ppocrv6_rec_dict.txt"), encoding="utf-8") as f:
            self.chars = [line.strip() for line in f if line.strip()]

    def test_the_fallback_face_has_every_character_of_the_dictionary(self):
        face = fontset.fallback_face()
        self.assertEqual([c for c in self.chars if not fontset.has_glyph(face, c)], [])

    def test_every_face_draws_each_character_it_claims_or_is_skipped_for_it(self):
        faces = [f for _, _, fs in fontset.families("all") for f in fs]
        self.assertTrue(faces)
        for face in faces:
            for ch in self.chars:
                used = realplate._face_for(face, ch)
                self.assertTrue(fontset.has_glyph(used, ch), "%s %s" % (face[0], ch))
                if used == face:
                    self.assertGreater(int(fontset.glyph(face, ch).max()), 128, "%s %s" % (face[0], ch))

    def test_a_character_outside_the_face_is_reported_missing(self):
        face = fontset.fallback_face()
        self.assertFalse(fontset.has_glyph(face, "\ue000"))
        self.assertFalse(fontset.has_glyph(face, "\U000f0001"))

    def test_held_out_faces_are_never_drawn_for_training(self):
        train = {f for _, _, fs in fontset.families("train") for f in fs}
        held = {f for _, _, fs in fontset.families("held_out") for f in fs}
        self.assertFalse(train & held)
        for seed in range(40):
            style = realplate.random_style(np.random.default_rng(seed), "train")
            self.assertNotIn(style["face"], held)
            self.assertNotIn(style["digit_face"], held)

    def test_the_training_set_up_installs_every_listed_face(self):
        with open(os.path.join(ROOT, "tools", "train", "setup.sh"), encoding="utf-8") as f:
            words = f.read().split()
        self.assertEqual([p for p in fontset.debian_packages() if p not in words], [])

    def test_thicker_strokes_hold_more_ink(self):
        face = fontset.fallback_face()
        thin, plain, thick = (int((fontset.glyph(face, "8", w) > 128).sum()) for w in (-2, 0, 4))
        self.assertLess(thin, plain)
        self.assertLess(plain, thick)


class Seeds(unittest.TestCase):
    def test_a_seed_fixes_the_plate_and_the_scene(self):
        a = dataset.render_group(5, 2, 2, style="real")
        b = dataset.render_group(5, 2, 2, style="real")
        for fa, fb in zip(a, b):
            self.assertEqual(fa["plate"].tobytes(), fb["plate"].tobytes())
            self.assertEqual(fa["scene"].tobytes(), fb["scene"].tobytes())
            self.assertEqual(fa["meta"]["char_boxes"], fb["meta"]["char_boxes"])
        c = dataset.render_group(6, 2, 1, style="real")
        self.assertNotEqual(a[0]["plate"].tobytes(), c[0]["plate"].tobytes())

    def test_the_style_changes_the_picture_not_the_text(self):
        classic = dataset.render_group(5, 3, 1)[0]
        real = dataset.render_group(5, 3, 1, style="real")[0]
        self.assertEqual(classic["plate_plan"], real["plate_plan"])
        self.assertEqual(classic["meta"]["rows"], real["meta"]["rows"])
        self.assertNotEqual(classic["meta"]["line_boxes"]["serial"], real["meta"]["line_boxes"]["serial"])

    def test_an_unknown_style_is_refused(self):
        with self.assertRaises(ValueError):
            render(plan("1234"), 1, style="nonesuch")


if __name__ == "__main__":
    unittest.main()
