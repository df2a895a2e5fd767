"""Writing generated sets: scenes, ROI cuts, case lists, labels and the contact sheet."""

import csv
import json
import os

import cv2
import numpy as np

from . import camera, plategen

JPEG_QUALITY = 92


def group_rng(seed, group_index, hard):
    # one stream per group, so a group comes out the same whatever the set's size
    return np.random.default_rng([int(seed), int(group_index), 1 if hard else 0])


# classic: the drawn scenes of plategen; photo: photographed backdrops and busy car fronts (scene.py),
# photo_held_out: the same from the held-out photographs and faces only
SCENE_KINDS = ("classic", "photo", "photo_held_out")


def render_group(seed, group_index, frames, hard=False, plate_width=640, style="classic", scene_kind="classic",
                 negative=False):
    """One vehicle seen in several frames: yields dicts with plate_plan, meta, scene, corners, roi.
    style: a plategen.PLATE_STYLES entry; "classic" keeps the committed samples as they are.
    scene_kind: a SCENE_KINDS entry; negative (photo scenes only): the car carries no plate, and corners,
    roi and corners_roi are None."""
    rng = group_rng(seed, group_index, hard)
    plate_plan = plategen.random_plate_spec(rng, hard=hard)
    plate, meta = plategen.render_plate(plate_plan, rng, width=plate_width, style=style)
    if scene_kind != "classic":
        return _render_photo_group(rng, plate_plan, plate, meta, frames, style, scene_kind, negative)
    if negative:
        raise ValueError("only photo scenes can be drawn without a plate")
    layout = plategen.new_scene(rng, (plate.shape[1], plate.shape[0]))
    # the real styles go through the camera model, and each frame also yields a processed crop
    look = None if style == "classic" else camera.new_look(rng)
    shoot = None if style == "classic" else (lambda r, img: camera.shoot(r, img, quad=layout["quad"], look=look))
    out = []
    for f in range(frames):
        scene, corners = plategen.render_scene(plate, rng, scene=layout, jitter=0.0 if f == 0 else 1.0,
                                               plate_mask_img=meta["mask"], camera=shoot)
        roi, corners_roi = plategen.make_roi(scene, corners, rng)
        fr = {"plate_plan": plate_plan, "meta": meta, "plate": plate, "scene": scene, "corners": corners,
              "roi": roi, "corners_roi": corners_roi}
        if shoot is not None:
            fr["crop"], fr["corners_crop"], fr["crop_kind"] = camera.processed_crop(rng, scene, corners)
        out.append(fr)
    return out


def _render_photo_group(rng, plate_plan, plate, meta, frames, style, scene_kind, negative):
    from . import scene
    if scene_kind not in SCENE_KINDS:
        raise ValueError("unknown scene kind: " + str(scene_kind))
    pool = "held_out" if scene_kind == "photo_held_out" else "train"
    layout = scene.new_scene(rng, (plate.shape[1], plate.shape[0]), pool=pool, negative=negative)
    look = camera.new_look(rng)
    out = []
    for f in range(frames):
        img, corners = scene.render_scene(plate, rng, layout, jitter=0.0 if f == 0 else 1.0,
                                          plate_mask_img=meta["mask"], look=look)
        fr = {"plate_plan": plate_plan, "meta": meta, "plate": plate, "scene": img, "corners": corners,
              "roi": None, "corners_roi": None, "negative": bool(negative)}
        if corners is not None:
            fr["roi"], fr["corners_roi"] = plategen.make_roi(img, corners, rng)
            if style != "classic":
                fr["crop"], fr["corners_crop"], fr["crop_kind"] = camera.processed_crop(rng, img, corners)
        out.append(fr)
    return out


def _pts(a):
    return [[round(float(x), 2), round(float(y), 2)] for x, y in a]


def label_record(frame, scene_path, roi_path, group_id, frame_no, crop_path=None):
    plate_plan, meta = frame["plate_plan"], frame["meta"]
    corners = frame["corners"]
    h, w = frame["scene"].shape[:2]
    x1, y1 = corners.min(axis=0)
    x2, y2 = corners.max(axis=0)
    rec = {
        "scene_path": scene_path,
        "roi_path": roi_path,
        "group_id": group_id,
        "frame": frame_no,
        "expected": plate_plan["expected"],
        "hard": plate_plan["hard"],
        "hard_reasons": plate_plan["hard_reasons"],
        "family": plate_plan["family"],
        "fields": {"region": plate_plan["region"], "class_no": plate_plan["class_no"], "kana": plate_plan["kana"],
                   "serial": plategen.format_serial(plate_plan["serial_digits"]),
                   "serial_printed": plate_plan["serial_printed"]},
        "rows": meta["rows"],
        "scene_size": [w, h],
        "roi_size": [frame["roi"].shape[1], frame["roi"].shape[0]],
        "plate_box": [round(float(max(0, x1)), 2), round(float(max(0, y1)), 2),
                      round(float(min(w, x2)), 2), round(float(min(h, y2)), 2)],
        "corners_scene": _pts(corners),
        "corners_roi": _pts(frame["corners_roi"]),
        "line_boxes": plategen.boxes_on_rectified(meta["line_boxes"], meta["size"]),
        "char_boxes": [{"char": c["char"], "box": plategen.boxes_on_rectified({"c": c["box"]}, meta["size"])["c"]}
                       for c in meta["char_boxes"]],
    }
    if "crop" in frame:
        # which faces and frame drew the plate, to break errors down by them
        rec["plate_style"] = dict(meta["style"], font=meta["font"])
        rec["crop_path"] = crop_path
        rec["crop_kind"] = frame["crop_kind"]
        rec["crop_size"] = [frame["crop"].shape[1], frame["crop"].shape[0]]
        rec["corners_crop"] = _pts(frame["corners_crop"])
    return rec


def write_set(out_dir, count, seed, frames_per_group=1, hard=False, write_scenes=True, write_rois=True,
              progress=None, style="classic", scene_kind="classic"):
    """Generate count frames in groups of frames_per_group under out_dir; returns the number of frames."""
    frames_per_group = max(1, int(frames_per_group))
    n_groups = (int(count) + frames_per_group - 1) // frames_per_group
    digits = max(3, len(str(n_groups)))
    scene_dir = os.path.join(out_dir, "scenes")
    roi_dir = os.path.join(out_dir, "rois")
    crop_dir = os.path.join(out_dir, "crops")
    os.makedirs(scene_dir, exist_ok=True)
    os.makedirs(roi_dir, exist_ok=True)
    crops = style != "classic"
    if crops:
        os.makedirs(crop_dir, exist_ok=True)
    f_crop = open(os.path.join(out_dir, "cases_crop.csv"), "w", newline="", encoding="utf-8") if crops else None
    crop_csv = csv.writer(f_crop, lineterminator="\n") if crops else None
    if crops:
        crop_csv.writerow(["image_path", "expected", "group_id"])
    header = ["image_path", "expected", "group_id"]
    written = 0
    with open(os.path.join(out_dir, "cases_roi.csv"), "w", newline="", encoding="utf-8") as f_roi, \
            open(os.path.join(out_dir, "cases_frame.csv"), "w", newline="", encoding="utf-8") as f_frame, \
            open(os.path.join(out_dir, "labels.jsonl"), "w", encoding="utf-8") as f_lab:
        roi_csv = csv.writer(f_roi, lineterminator="\n")
        frame_csv = csv.writer(f_frame, lineterminator="\n")
        roi_csv.writerow(header)
        frame_csv.writerow(header)
        for g in range(n_groups):
            n = min(frames_per_group, int(count) - written)
            group_id = ("h" if hard else "g") + str(g + 1).zfill(digits)
            for k, fr in enumerate(render_group(seed, g, n, hard=hard, style=style, scene_kind=scene_kind)):
                name = "%s_f%d.jpg" % (group_id, k + 1)
                scene_path = os.path.join(scene_dir, name)
                roi_path = os.path.join(roi_dir, name)
                if write_scenes:
                    cv2.imwrite(scene_path, fr["scene"], [cv2.IMWRITE_JPEG_QUALITY, JPEG_QUALITY])
                if write_rois:
                    cv2.imwrite(roi_path, fr["roi"], [cv2.IMWRITE_JPEG_QUALITY, JPEG_QUALITY])
                expected = fr["plate_plan"]["expected"]
                roi_csv.writerow([roi_path, expected, group_id])
                frame_csv.writerow([scene_path, expected, group_id])
                crop_path = None
                if crops:
                    crop_path = os.path.join(crop_dir, name)
                    cv2.imwrite(crop_path, fr["crop"], [cv2.IMWRITE_JPEG_QUALITY, JPEG_QUALITY])
                    crop_csv.writerow([crop_path, expected, group_id])
                f_lab.write(json.dumps(label_record(fr, scene_path, roi_path, group_id, k + 1, crop_path),
                                       ensure_ascii=False) + "\n")
                written += 1
            if progress is not None:
                progress(written)
    if f_crop is not None:
        f_crop.close()
    return written


def contact_sheet(path, seed, hard=False):
    """40 plates (8 x 5) above 8 scenes (4 x 2) in one PNG."""
    rng = np.random.default_rng([int(seed), 777])
    tiles = []
    for i in range(40):
        plate_plan = plategen.random_plate_spec(rng, hard=hard or (i % 8 == 7))
        img, meta = plategen.render_plate(plate_plan, rng, width=480)
        bg = np.full(img.shape, 90, np.uint8)
        m = meta["mask"][..., None]
        img = (img + bg * (1 - m)).astype(np.uint8)
        tiles.append(cv2.copyMakeBorder(cv2.resize(img, (232, 116), interpolation=cv2.INTER_AREA),
                                        4, 4, 4, 4, cv2.BORDER_CONSTANT, value=(90, 90, 90)))
    plates = np.vstack([np.hstack(tiles[r * 8:(r + 1) * 8]) for r in range(5)])
    scenes = []
    for i in range(8):
        fr = render_group(seed + 1000, i, 1, hard=hard)[0]
        sc = cv2.resize(fr["scene"], (472, 354), interpolation=cv2.INTER_AREA)
        scenes.append(cv2.copyMakeBorder(sc, 4, 4, 4, 4, cv2.BORDER_CONSTANT, value=(90, 90, 90)))
    scene_rows = np.vstack([np.hstack(scenes[r * 4:(r + 1) * 4]) for r in range(2)])
    sheet = np.vstack([plates, scene_rows])
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    cv2.imwrite(path, sheet, [cv2.IMWRITE_PNG_COMPRESSION, 9])
    return sheet.shape


def real_layout_sheet(path, seed, style="real", columns=4, rows=6):
    """columns x rows plates of style; the first ones show the rarer text forms (3-character region
    names, 2-digit and letter class numbers, dot fillers)."""
    rng = np.random.default_rng([int(seed), 778])
    tiles = []
    for i in range(columns * rows):
        plate_plan = plategen.random_plate_spec(rng, hard=(i % 3 == 2))
        img, meta = plategen.render_plate(plate_plan, rng, width=480, style=style)
        bg = np.full(img.shape, 90, np.uint8)
        m = meta["mask"][..., None]
        img = (img + bg * (1 - m)).astype(np.uint8)
        tiles.append(cv2.copyMakeBorder(cv2.resize(img, (320, 160), interpolation=cv2.INTER_AREA),
                                        4, 4, 4, 4, cv2.BORDER_CONSTANT, value=(90, 90, 90)))
    sheet = np.vstack([np.hstack(tiles[r * columns:(r + 1) * columns]) for r in range(rows)])
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    cv2.imwrite(path, sheet, [cv2.IMWRITE_PNG_COMPRESSION, 9])
    return sheet.shape
