#!/usr/bin/python3
"""Renders a bank of synthetic plates once, in shards, for all training
scripts: per frame the scene (stretched to the detector input), the plate
box, the ROI as a detector cuts it (JPEG), its four corners, and the text
group and character boxes in plate pixels.

  platebank.py --out DIR --count N --seed S [--hard-frac F] [--random-region-frac F]
               [--small-frac F] [--family-weights W W W W W] [--real-frac F [--processed-frac F]
               [--condensed-frac F]] [--synth DIR]
               [--photo-frac F [--negative-frac F] [--scene-pool train|held_out]]

Scenes without a plate (--negative-frac) are kept for the plate detector only: load_banks leaves them
out unless asked for them.
"""
import argparse
import os
import pickle
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402
import cv2  # noqa: E402
import numpy as np  # noqa: E402

DET_SIZE = 320
ROI_MAX_W = 400
GROUPS = ("region", "class_no", "kana", "serial")


def xywh_to_xyxy(b):
    return [float(b[0]), float(b[1]), float(b[0] + b[2]), float(b[1] + b[3])]


def group_boxes(meta):
    """Boxes [x0, y0, x1, y1] in plate pixels of the four text groups."""
    src = meta.get("line_boxes") or {}
    return {k: xywh_to_xyxy(src[k]) for k in GROUPS if k in src}


def char_items(plate_plan, meta):
    """(text, box, row) per drawn character in reading order; the region
    name counts as one item.  row 0 = upper, 1 = lower."""
    height = float(meta["size"][1]) if "size" in meta else 320.0
    items = []
    for c in meta.get("char_boxes", []):
        box = xywh_to_xyxy(c["box"])
        row = 0 if (box[1] + box[3]) * 0.5 < height * 0.45 else 1
        items.append((c["char"], box, row))
    return items


def plate_texts(plate_plan, meta):
    rows = meta["rows"]
    lower = rows["lower"]
    serial = lower[len(plate_plan["kana"]):] if lower.startswith(plate_plan["kana"]) else plate_plan["serial_printed"].replace(" ", "")
    return {"region": plate_plan["region"], "class_no": plate_plan["class_no"], "kana": plate_plan["kana"],
            "serial": serial, "upper": rows["upper"], "lower": lower}


def negative_record(scene, style):
    scene_small = cv2.resize(scene, (DET_SIZE, DET_SIZE), interpolation=cv2.INTER_AREA)
    ok, scene_jpg = cv2.imencode(".jpg", scene_small, [cv2.IMWRITE_JPEG_QUALITY, 90])
    return {"negative": True, "scene320_jpg": scene_jpg.tobytes(), "scene_size": (scene.shape[1], scene.shape[0]),
            "plate_box": None, "style": style}


def make_group_records(dataset, seed, group, frames, hard, style="classic", scene_kind="classic", negative=False,
                       processed=False):
    """Frames of one vehicle, rendered the way the generated sets are.  With
    processed (real styles only), each ROI is instead the plate as another tool
    hands it on: straightened, then grey, equalised or thresholded."""
    records = []
    for fr in dataset.render_group(seed, group, frames, hard=hard, style=style, scene_kind=scene_kind,
                                   negative=negative):
        plate_plan, meta, scene = fr["plate_plan"], fr["meta"], fr["scene"]
        if fr["corners"] is None:
            records.append(negative_record(scene, style))
            continue
        roi = fr["roi"]
        corners = np.asarray(fr["corners"], np.float32).reshape(4, 2)
        corners_roi = np.asarray(fr["corners_roi"], np.float32).reshape(4, 2)
        if processed and "crop" in fr:
            roi = fr["crop"]
            corners_roi = np.asarray(fr["corners_crop"], np.float32).reshape(4, 2)
        sh, sw = scene.shape[:2]
        x0, y0 = corners.min(0)
        x1, y1 = corners.max(0)
        box = np.array([max(0, x0) / sw, max(0, y0) / sh, min(sw, x1) / sw, min(sh, y1) / sh], np.float32)
        scale = min(1.0, ROI_MAX_W / roi.shape[1])
        if scale < 1.0:
            roi = cv2.resize(roi, (int(round(roi.shape[1] * scale)), int(round(roi.shape[0] * scale))),
                             interpolation=cv2.INTER_AREA)
            corners_roi = corners_roi * scale
        ok, roi_jpg = cv2.imencode(".jpg", roi, [cv2.IMWRITE_JPEG_QUALITY, 92])
        scene_small = cv2.resize(scene, (DET_SIZE, DET_SIZE), interpolation=cv2.INTER_AREA)
        ok, scene_jpg = cv2.imencode(".jpg", scene_small, [cv2.IMWRITE_JPEG_QUALITY, 90])
        records.append({
            "plate_plan": plate_plan,
            "texts": plate_texts(plate_plan, meta),
            "plate_size": (fr["plate"].shape[1], fr["plate"].shape[0]),
            "boxes": group_boxes(meta),
            "items": char_items(plate_plan, meta),
            "roi_jpg": roi_jpg.tobytes(),
            "corners_roi": corners_roi,
            "scene320_jpg": scene_jpg.tobytes(),
            "scene_size": (sw, sh),
            "plate_box": box,
            "corners_scene": corners,
            "hard": hard,
            "style": style,
        })
        if scene_kind != "classic":
            records[-1]["scene_kind"] = scene_kind
    return records


def use_random_regions(plategen, frac, seed):
    """Makes part of the plates carry a made-up region name of 2-4 kanji drawn
    evenly from the kanji of the listed names: the recogniser then has to read
    each character instead of recalling whole names, and rare kanji are seen
    as often as common ones."""
    kanji = sorted({ch for w in plategen.region_words() for ch in w if ord(ch) >= 0x4E00})
    pick = np.random.default_rng([seed, 77])
    original = plategen.random_plate_spec

    def plan_with_made_up_region(rng, hard=False):
        plan = original(rng, hard=hard)
        if not hard and pick.random() < frac:
            n = int(pick.choice([2, 3, 4], p=[0.5, 0.35, 0.15]))
            region = "".join(kanji[int(i)] for i in pick.integers(0, len(kanji), n))
            plan["expected"] = plan["expected"].replace(plan["region"], region, 1)
            plan["region"] = region
        return plan

    plategen.random_plate_spec = plan_with_made_up_region


def use_small_plates(plategen, frac, seed, width_range=(50.0, 150.0)):
    """Makes part of the vehicles carry a plate only 50-150 px wide in the
    scene, the size at which the region name's kanji are hardest to read;
    the plain draw gives few of them."""
    pick = np.random.default_rng([seed, 78])
    original = plategen.new_scene

    def scene_with_small_plate(rng, plate_size, size=None):
        layout = original(rng, plate_size, size)
        if pick.random() < frac:
            quad = layout["quad"]
            width = float(np.linalg.norm(quad[1] - quad[0]))
            target = pick.uniform(*width_range)
            if width > target:
                centre = quad.mean(axis=0)
                layout["quad"] = ((quad - centre) * np.float32(target / width) + centre).astype(np.float32)
        return layout

    plategen.new_scene = scene_with_small_plate


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--count", type=int, default=10000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--shard", type=int, default=250)
    ap.add_argument("--hard-frac", type=float, default=0.15)
    ap.add_argument("--frames", type=int, default=2, help="frames per vehicle")
    ap.add_argument("--synth", help="directory holding the synth package (default: this repo's tools/)")
    ap.add_argument("--random-region-frac", type=float, default=0.0,
                    help="share of plates whose region name is a made-up string of listed kanji")
    ap.add_argument("--small-frac", type=float, default=0.0,
                    help="share of vehicles whose plate is shrunk to 50-150 px wide in the scene")
    ap.add_argument("--family-weights", type=float, nargs=5, metavar="W",
                    help="draw weights of private, commercial, rental, kei_private, kei_commercial plates")
    ap.add_argument("--real-frac", type=float, default=0.0,
                    help="share of vehicles whose plate is drawn in the layout measured on real plates, "
                         "with the training faces (the rest as before)")
    ap.add_argument("--condensed-frac", type=float, default=0.0,
                    help="share of real-layout vehicles whose glyphs are narrower than their cells (other "
                         "renderers' condensed faces)")
    ap.add_argument("--processed-frac", type=float, default=0.0,
                    help="share of real-layout vehicles whose ROIs are straightened grey, equalised or "
                         "thresholded crops, as other plate tools hand them on")
    ap.add_argument("--photo-frac", type=float, default=0.0,
                    help="share of vehicles in photographed scenes with busy car fronts (synth/scene.py), "
                         "for the plate detector")
    ap.add_argument("--negative-frac", type=float, default=0.0,
                    help="share of the photographed scenes that show no plate (detector training only)")
    ap.add_argument("--scene-pool", choices=("train", "held_out"), default="train",
                    help="photographs and faces of those scenes: held_out only for evaluation banks")
    args = ap.parse_args()
    plategen = common.import_plategen(args.synth)
    # its own stream, so that a bank without real-layout plates is the same as before
    style_pick = np.random.default_rng([args.seed, 79])
    # and the same for the photographed scenes
    scene_pick = np.random.default_rng([args.seed, 80])
    photo_kind = "photo_held_out" if args.scene_pool == "held_out" else "photo"
    processed_pick = np.random.default_rng([args.seed, 81])
    condensed_pick = np.random.default_rng([args.seed, 82])
    if args.random_region_frac > 0:
        use_random_regions(plategen, args.random_region_frac, args.seed)
    if args.small_frac > 0:
        use_small_plates(plategen, args.small_frac, args.seed)
    if args.family_weights:
        w = np.asarray(args.family_weights, np.float64)
        plategen.FAMILY_WEIGHTS = tuple(w / w.sum())
    from synth import dataset
    os.makedirs(args.out, exist_ok=True)
    timer = common.Timer()
    n_shards = (args.count + args.shard - 1) // args.shard
    for s in range(n_shards):
        path = os.path.join(args.out, "shard_%04d.pkl" % s)
        if os.path.exists(path):
            continue
        rng = np.random.default_rng([args.seed, s])
        records = []
        group = s * 100000
        while len(records) < min(args.shard, args.count - s * args.shard):
            hard = bool(rng.random() < args.hard_frac)
            style = "real" if args.real_frac > 0 and style_pick.random() < args.real_frac else "classic"
            processed = style == "real" and args.processed_frac > 0 and processed_pick.random() < args.processed_frac
            if style == "real" and args.condensed_frac > 0 and condensed_pick.random() < args.condensed_frac:
                style = "real_condensed"
            kind, negative = "classic", False
            if args.photo_frac > 0 and scene_pick.random() < args.photo_frac:
                kind = photo_kind
                negative = bool(args.negative_frac > 0 and scene_pick.random() < args.negative_frac)
            records.extend(make_group_records(dataset, args.seed, group, args.frames, hard, style, kind, negative,
                                              processed))
            group += 1
        with open(path + ".tmp", "wb") as f:
            pickle.dump(records, f, protocol=4)
        os.replace(path + ".tmp", path)
        print("shard %d/%d done, %.1f min" % (s + 1, n_shards, timer.minutes()), flush=True)


def shard_names(bank_dir):
    return sorted(n for n in os.listdir(bank_dir) if n.startswith("shard_") and n.endswith(".pkl"))


def count_shards(bank_dirs):
    return sum(len(shard_names(d)) for d in bank_dirs)


def load_banks(bank_dirs, negatives=False):
    """All records of several banks, and their shard count. Scenes without a plate only with negatives."""
    records, shards = [], 0
    for d in bank_dirs:
        part, n = load_shards(d, negatives=negatives)
        records.extend(part)
        shards += n
    return records, shards


def load_shards(bank_dir, limit=None, negatives=False):
    names = shard_names(bank_dir)
    records = []
    for n in names[:limit]:
        with open(os.path.join(bank_dir, n), "rb") as f:
            records.extend(r for r in pickle.load(f) if negatives or not r.get("negative"))
    return records, len(names)


if __name__ == "__main__":
    main()
