"""Recogniser training samples: the crops that the reader cuts from a
rectified 320x96 plate (and from the plate ROI for the kana areas), each
fitted into the 48x320 white canvas the way the reader prepares them."""
import cv2
import numpy as np
import common

REC_W, REC_H = 320, 48
RECT_W, RECT_H = 320, 96
UPPER = ("region", "class_no")
LOWER = ("kana", "serial")

FIXED = {  # left, top, right, bottom fractions of the rectified plate
    "full": (0.0, 0.0, 1.0, 1.0),
    "upper_row": (0.0, 0.0, 1.0, 0.5),
    "lower_row": (0.0, 0.38, 1.0, 1.0),
    "serial_area": (0.28, 0.38, 1.0, 1.0),
}
KANA_AREAS = [  # left, top, right, bottom; used on the rectified plate and on the ROI
    (0.0, 0.35, 0.45, 1.0),
    (0.0, 0.35, 0.18, 0.98),
    (0.0, 0.35, 0.22, 0.98),
    (0.02, 0.38, 0.26, 0.98),
    (0.0, 0.45, 0.28, 1.0),
]
# share of a cut first serial place that keeps it in the serial area's target
SERIAL_CUT_COVER = 0.2
PLATE_VARIANTS = ("original", "gray", "clahe", "sharpen", "up2x")
KANA_VARIANTS = ("original", "gray", "clahe", "sharpen", "otsu", "otsu_inv", "up4x", "gray_up5x",
                 "gray_up8x", "clahe_up5x")


def make_gray(img):
    return cv2.cvtColor(cv2.cvtColor(img, cv2.COLOR_BGR2GRAY), cv2.COLOR_GRAY2BGR)


_clahe = cv2.createCLAHE(2.0, (8, 8))


def make_clahe(img):
    lab = cv2.cvtColor(img, cv2.COLOR_BGR2Lab)
    ch = list(cv2.split(lab))
    _clahe.apply(ch[0], ch[0])
    return cv2.cvtColor(cv2.merge(ch), cv2.COLOR_Lab2BGR)


def make_sharpen(img):
    blur = cv2.GaussianBlur(img, (0, 0), 1.0)
    return cv2.addWeighted(img, 1.6, blur, -0.6, 0)


def plate_variant(img, name):
    if name == "gray":
        return make_gray(img), 1.0
    if name == "clahe":
        return make_clahe(img), 1.0
    if name == "sharpen":
        return make_sharpen(img), 1.0
    if name == "up2x":
        return cv2.resize(img, None, fx=2.0, fy=2.0, interpolation=cv2.INTER_CUBIC), 2.0
    return img, 1.0


def kana_variant(crop, name):
    if name == "gray":
        return make_gray(crop)
    if name == "clahe":
        return make_clahe(crop)
    if name == "sharpen":
        return make_sharpen(crop)
    if name in ("otsu", "otsu_inv"):
        g = cv2.cvtColor(crop, cv2.COLOR_BGR2GRAY)
        mode = cv2.THRESH_BINARY if name == "otsu" else cv2.THRESH_BINARY_INV
        _, t = cv2.threshold(g, 0, 255, mode | cv2.THRESH_OTSU)
        return cv2.cvtColor(t, cv2.COLOR_GRAY2BGR)
    if name == "up4x":
        return cv2.resize(crop, None, fx=4.0, fy=4.0, interpolation=cv2.INTER_CUBIC)
    if name == "gray_up5x":
        return cv2.resize(make_gray(crop), None, fx=5.0, fy=5.0, interpolation=cv2.INTER_CUBIC)
    if name == "gray_up8x":
        return cv2.resize(make_gray(crop), None, fx=8.0, fy=8.0, interpolation=cv2.INTER_CUBIC)
    if name == "clahe_up5x":
        return cv2.resize(make_clahe(crop), None, fx=5.0, fy=5.0, interpolation=cv2.INTER_CUBIC)
    return crop


def crop_ratio(img, l, t, r, b):
    h, w = img.shape[:2]
    x0 = min(max(int(np.floor(np.float32(w) * np.float32(l))), 0), w - 1)
    y0 = min(max(int(np.floor(np.float32(h) * np.float32(t))), 0), h - 1)
    x1 = min(max(int(np.ceil(np.float32(w) * np.float32(r))), 0), w)
    y1 = min(max(int(np.ceil(np.float32(h) * np.float32(b))), 0), h)
    return (x0, y0, max(1, x1 - x0), max(1, y1 - y0))


def rec_input(crop_bgr):
    """The recogniser's input picture (RGB), fitted top-left on white."""
    h, w = crop_bgr.shape[:2]
    s = min(np.float32(REC_W) / np.float32(w), np.float32(REC_H) / np.float32(h))
    nw = max(1, int(np.floor(w * s + 0.5)))
    nh = max(1, int(np.floor(h * s + 0.5)))
    canvas = np.full((REC_H, REC_W, 3), 255, np.uint8)
    canvas[:nh, :nw] = cv2.resize(crop_bgr, (nw, nh), interpolation=cv2.INTER_LINEAR)
    return cv2.cvtColor(canvas, cv2.COLOR_BGR2RGB)


def transform_box(Hm, box):
    x0, y0, x1, y1 = box
    pts = np.float32([[x0, y0], [x1, y0], [x1, y1], [x0, y1]]).reshape(-1, 1, 2)
    p = cv2.perspectiveTransform(pts, Hm).reshape(-1, 2)
    return [float(p[:, 0].min()), float(p[:, 1].min()), float(p[:, 0].max()), float(p[:, 1].max())]


def coverage(group_box, rect):
    gx0, gy0, gx1, gy1 = group_box
    x, y, w, h = rect
    ix = max(0.0, min(gx1, x + w) - max(gx0, x))
    iy = max(0.0, min(gy1, y + h) - max(gy0, y))
    area = max(1e-6, (gx1 - gx0) * (gy1 - gy0))
    return ix * iy / area


def target_for(rect, items, min_cover=0.5, cut_serial_cover=None):
    """Text a reader should give for a crop: the characters it shows, of the
    lower row when any is inside, else of the upper row.  With
    cut_serial_cover, a lower-row character cut by the crop's left edge (its
    box reaching past that edge) is kept when that much of it is inside: the
    serial area starts inside the first serial place of real-layout plates,
    and its reading has to keep all four places to count as a serial."""
    def keep(box, row):
        cover = coverage(box, rect)
        if cover >= min_cover:
            return True
        return cut_serial_cover is not None and row == 1 and box[0] < rect[0] < box[2] and \
            cover >= cut_serial_cover

    inside = [(text, row) for text, box, row in items if keep(box, row)]
    lower = [t for t, row in inside if row == 1]
    return "".join(lower) if lower else "".join(t for t, row in inside if row == 0)


class PlateView:
    """One decoded bank record: the ROI, and its rectification with
    perturbed corners, with the text group boxes in both frames."""

    def __init__(self, rec, rng, jitter, use_predicted=False):
        self.rec = rec
        self.roi = cv2.imdecode(np.frombuffer(rec["roi_jpg"], np.uint8), cv2.IMREAD_COLOR)
        pw, ph = rec["plate_size"]
        src = np.float32([[0, 0], [pw, 0], [pw, ph], [0, ph]])
        corners = np.asarray(rec["corners_roi"], np.float32)
        H_plate_roi = cv2.getPerspectiveTransform(src, corners)
        self.roi_boxes = {k: transform_box(H_plate_roi, b) for k, b in rec["boxes"].items()}
        self.roi_items = [(t, transform_box(H_plate_roi, b), r) for t, b, r in rec["items"]]
        span = np.float32([np.linalg.norm(corners[1] - corners[0]), np.linalg.norm(corners[3] - corners[0])])
        noisy = corners + rng.normal(0.0, 1.0, (4, 2)).astype(np.float32) * span * np.float32(jitter)
        if use_predicted and "corners_pred" in rec:
            # The corner model's own errors, as the reader will meet them.
            noisy = np.asarray(rec["corners_pred"], np.float32)
        dst = np.float32([[0, 0], [RECT_W - 1, 0], [RECT_W - 1, RECT_H - 1], [0, RECT_H - 1]])
        H_roi_rect = cv2.getPerspectiveTransform(noisy, dst)
        self.rect = cv2.warpPerspective(self.roi, H_roi_rect, (RECT_W, RECT_H), flags=cv2.INTER_LINEAR,
                                        borderMode=cv2.BORDER_REPLICATE)
        H = H_roi_rect @ H_plate_roi
        self.rect_boxes = {k: transform_box(H, b) for k, b in rec["boxes"].items()}
        self.rect_items = [(t, transform_box(H, b), r) for t, b, r in rec["items"]]
        self.texts = rec["texts"]


def predict_corners(records, model_path):
    """Adds the compiled corner model's corners (ROI pixels, as the reader
    decodes them) to every record as "corners_pred"."""
    net = cv2.dnn.readNetFromONNX(model_path)
    for rec in records:
        roi = cv2.imdecode(np.frombuffer(rec["roi_jpg"], np.uint8), cv2.IMREAD_COLOR)
        rec["corners_pred"] = common.corner_model_points(net, roi)


def det_like_box(box, scale, img_w, img_h, rng, jitter=2.5):
    """A text-detector box around a group box: margins 5 px left/right and
    4 px top/bottom on the picture read, plus detector noise."""
    x0, y0, x1, y1 = [v * scale for v in box]
    x0 += rng.normal(0, jitter) - 5
    x1 += rng.normal(0, jitter) + 5
    y0 += rng.normal(0, jitter * 0.6) - 4
    y1 += rng.normal(0, jitter * 0.6) + 4
    x0, y0 = max(0, int(np.floor(x0))), max(0, int(np.floor(y0)))
    x1, y1 = min(img_w, int(np.ceil(x1))), min(img_h, int(np.ceil(y1)))
    if x1 - x0 < 8 or y1 - y0 < 8:
        return None
    return (x0, y0, x1 - x0, y1 - y0)


def union(boxes, keys):
    bs = [boxes[k] for k in keys if k in boxes]
    if not bs:
        return None
    return [min(b[0] for b in bs), min(b[1] for b in bs), max(b[2] for b in bs), max(b[3] for b in bs)]


def photometric(img, rng):
    if rng.random() < 0.5:
        a = rng.uniform(0.7, 1.3)
        b = rng.uniform(-35, 35)
        img = cv2.convertScaleAbs(img, alpha=a, beta=b)
    if rng.random() < 0.25:
        k = int(rng.choice([3, 5]))
        img = cv2.GaussianBlur(img, (k, k), rng.uniform(0.3, 1.2))
    if rng.random() < 0.3:
        noise = rng.normal(0, rng.uniform(2, 10), img.shape).astype(np.float32)
        img = np.clip(img.astype(np.float32) + noise, 0, 255).astype(np.uint8)
    if rng.random() < 0.3:
        ok, enc = cv2.imencode(".jpg", img, [cv2.IMWRITE_JPEG_QUALITY, int(rng.integers(35, 90))])
        img = cv2.imdecode(enc, cv2.IMREAD_COLOR)
    return img


CROP_KINDS = ("det_upper", "det_lower", "det_group", "full", "upper_row", "lower_row", "serial_area",
              "rect_kana", "roi_kana")
CROP_WEIGHTS = np.array([1.2, 1.2, 1.2, 0.8, 1.0, 1.0, 1.0, 1.3, 1.0])


def sample_crop(view, rng, kind=None, variant=None, jitter_regions=True):
    """Returns (crop_bgr, target_text, kind)."""
    if kind is None:
        kind = CROP_KINDS[rng.choice(len(CROP_KINDS), p=CROP_WEIGHTS / CROP_WEIGHTS.sum())]
    if kind in ("rect_kana", "roi_kana"):
        src = view.rect if kind == "rect_kana" else view.roi
        items = view.rect_items if kind == "rect_kana" else view.roi_items
        l, t, r, b = KANA_AREAS[rng.integers(len(KANA_AREAS))]
        if jitter_regions:
            l, r = l + rng.normal(0, 0.015), r + rng.normal(0, 0.02)
            t, b = t + rng.normal(0, 0.02), b + rng.normal(0, 0.01)
        rect = crop_ratio(src, max(0.0, l), max(0.0, t), min(1.0, r), min(1.0, b))
        x, y, w, h = rect
        crop = src[y:y + h, x:x + w]
        if rng.random() < 0.5:
            crop = photometric(crop, rng)
        name = variant or KANA_VARIANTS[rng.integers(len(KANA_VARIANTS))]
        return kana_variant(crop, name), target_for(rect, items), kind
    base = view.rect
    if rng.random() < 0.6:
        base = photometric(base, rng)
    name = variant or PLATE_VARIANTS[rng.integers(len(PLATE_VARIANTS))]
    img, scale = plate_variant(base, name)
    ih, iw = img.shape[:2]
    items = [(t, [v * scale for v in b], r) for t, b, r in view.rect_items]
    rect = None
    if kind.startswith("det_"):
        if kind == "det_upper":
            gb = union(view.rect_boxes, UPPER)
        elif kind == "det_lower":
            gb = union(view.rect_boxes, LOWER)
        else:
            keys = [k for k in ("region", "class_no", "kana", "serial") if k in view.rect_boxes]
            gb = view.rect_boxes[keys[rng.integers(len(keys))]] if keys else None
        if gb is not None:
            rect = det_like_box(gb, scale, iw, ih, rng)
        if rect is None:
            kind = "full"
    if rect is None:
        l, t, r, b = FIXED[kind]
        if jitter_regions and kind != "full":
            l, t = l + rng.normal(0, 0.01), t + rng.normal(0, 0.015)
            r, b = r - abs(rng.normal(0, 0.01)), b - abs(rng.normal(0, 0.01))
        rect = crop_ratio(img, max(0.0, l), max(0.0, t), min(1.0, r), min(1.0, b))
    x, y, w, h = rect
    cut = SERIAL_CUT_COVER if kind == "serial_area" else None
    return img[y:y + h, x:x + w], target_for(rect, items, cut_serial_cover=cut), kind
