"""Scenes that look like photographs of cars, for the plate detector.

The classic scenes (plategen.new_scene) put the plate on a flat drawn car before a drawn backdrop: a
detector trained on them learns that the plate is the most structured thing in the picture, and on
real photographs it then boxes headlights, grilles or the whole car front. Here the backdrop is a
photograph from a Debian package and the plate sits in a car front full of things that look like it:
grille slats and mesh, headlights with glare, a maker's badge with letters, a dealer's frame, stickers,
and shop signs with digits and kana around the car.

Geometry is a pinhole camera: the car front is one plane, drawn frontally on a canvas in millimetres and
projected with the same homography as the plate, so yaw (up to 40 degrees), pitch and roll bend
everything together. The camera model (camera.shoot) then acts on the whole picture.

pool "train" draws from the training photographs and faces, "held_out" from the others only.
"""

import functools
import glob
import os

import cv2
import numpy as np
from PIL import Image, ImageDraw

from . import camera, fontset, plategen

POOLS = ("train", "held_out")

# (Debian package, licence of the pictures, pool, file patterns). Only photographs and painted
# backdrops; logos and screenshots are left out.
PHOTO_SOURCES = [
    ("plasma-workspace-wallpapers", "GPL-2+", "train",
     ["/usr/share/wallpapers/*/contents/images/1920x1080.jpg", "/usr/share/wallpapers/*/contents/images/1920x1080.png"]),
    ("mate-backgrounds", "GPL-2+", "train",
     ["/usr/share/backgrounds/mate/nature/*.jpg", "/usr/share/backgrounds/mate/abstract/Elephants.jpg"]),
    ("python3-skimage", "CC0 and public domain (scikit-image's sample photographs; package BSD-3-Clause)", "held_out",
     ["/usr/lib/python3/dist-packages/skimage/data/%s" % n for n in
      ("astronaut.png", "brick.png", "camera.png", "chelsea.png", "coffee.png", "coins.png", "grass.png",
       "gravel.png", "rocket.jpg")]),
    ("lomiri-wallpapers-20.04", "CC-BY-SA-3.0", "held_out",
     ["/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg", "/usr/share/backgrounds/Infinite-Sea_by_Aury88.jpg",
      "/usr/share/backgrounds/Fossa_by_Jasper_Roks.jpg"]),
]
# cartoons among the wallpapers: no photograph looks like them
PHOTO_EXCLUDE = ("FlyingKonqui",)

SCENE_SIZES = [(640, 480), (800, 600), (960, 540), (960, 720), (1024, 768), (1280, 720)]
PLATE_MM = plategen.PLATE_MM
MAX_YAW = np.radians(40.0)

SIGN_WORDS = ["駐車場", "月極駐車場", "営業中", "中古車", "買取", "車検", "整備", "タイヤ", "洗車", "空車", "満車",
              "コインパーキング", "24時間", "セルフ", "レギュラー", "ハイオク", "軽油", "販売", "修理", "板金塗装",
              "ラーメン", "食堂", "薬局", "不動産", "美容室", "歯科", "出口", "入口", "徐行", "止まれ", "月極",
              "カーショップ", "モータース", "オートサービス", "新車", "ガソリン", "お客様駐車場", "関係者以外駐車禁止"]
LATIN_WORDS = ["AUTO", "MOTORS", "CAR SHOP", "SERVICE", "PARKING", "HYBRID", "SPORT", "TURBO", "4WD", "DEALER",
               "GARAGE", "OPEN", "SALE", "TIRES", "OIL", "CAFE", "BANK", "HOTEL", "EXIT", "STOP"]
KANA = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわ"


def photo_paths(pool="train"):
    """Installed photographs of a pool, sorted, so a seed draws the same ones on every machine that has them."""
    out = []
    for _, _, p, patterns in PHOTO_SOURCES:
        if p != pool:
            continue
        for pat in patterns:
            out.extend(f for f in glob.glob(pat) if not any(x in f for x in PHOTO_EXCLUDE))
    return sorted(set(out))


def debian_packages():
    return [s[0] for s in PHOTO_SOURCES]


@functools.lru_cache(maxsize=64)
def _photo(path):
    img = cv2.imread(path, cv2.IMREAD_COLOR)
    if img is None:
        raise RuntimeError("cannot read background photograph " + path)
    # no scene is wider than 1280: keep the decoded picture small
    f = 1400.0 / max(img.shape[:2])
    if f < 1.0:
        img = cv2.resize(img, (int(img.shape[1] * f), int(img.shape[0] * f)), interpolation=cv2.INTER_AREA)
    return img


def _photo_crop(rng, pool, w, h):
    paths = photo_paths(pool)
    if not paths:
        raise RuntimeError("no background photograph installed for pool %s (tools/train/setup.sh installs them)"
                           % pool)
    img = _photo(paths[int(rng.integers(0, len(paths)))])
    ih, iw = img.shape[:2]
    # a random window, zoomed so that the photograph's detail has the scale of a street
    s = rng.uniform(0.35, 1.0) * min(iw / w, ih / h)
    cw, ch = max(16, int(w * s)), max(16, int(h * s))
    x0 = int(rng.integers(0, iw - cw + 1))
    y0 = int(rng.integers(0, ih - ch + 1))
    out = cv2.resize(img[y0:y0 + ch, x0:x0 + cw], (w, h), interpolation=cv2.INTER_LINEAR)
    if rng.random() < 0.5:
        out = out[:, ::-1]
    out = out.astype(np.float32) * rng.uniform(0.6, 1.15) + rng.normal(0, 10, 3).astype(np.float32)
    if rng.random() < 0.25:
        g = out.mean(axis=2, keepdims=True)
        out = g + (out - g) * rng.uniform(0.0, 0.6)
    return np.clip(out, 0, 255).astype(np.uint8)


# ---------------------------------------------------------------- text


def _faces(pool):
    fams = fontset.families("held_out" if pool == "held_out" else "train")
    return [f for _, _, faces in fams for f in faces] or [fontset.fallback_face()]


def _text_mask(font, text, px):
    face = fontset._face(font, int(px))
    box = face.getbbox(text)
    w, h = max(1, box[2] - box[0] + 4), max(1, box[3] - box[1] + 4)
    canvas = Image.new("L", (w, h), 0)
    ImageDraw.Draw(canvas).text((2 - box[0], 2 - box[1]), text, font=face, fill=255)
    return np.asarray(canvas)


def _paste_text(img, rng, pool, text, x, y, height, colour, max_w=None, centre=True):
    """Draws text about height pixels tall with its centre (or its left edge) at x, y; returns its box."""
    if height < 3 or not text:
        return None
    font = _faces(pool)[int(rng.integers(0, len(_faces(pool))))]
    m = _text_mask(font, text, max(8, int(height * 1.3)))
    scale = height / float(m.shape[0])
    if max_w is not None and m.shape[1] * scale > max_w:
        scale = max_w / float(m.shape[1])
    w, h = max(1, int(m.shape[1] * scale)), max(1, int(m.shape[0] * scale))
    m = cv2.resize(m, (w, h), interpolation=cv2.INTER_AREA).astype(np.float32) / 255.0
    x0 = int(x - w / 2) if centre else int(x)
    y0 = int(y - h / 2)
    H, W = img.shape[:2]
    ax0, ay0, ax1, ay1 = max(0, x0), max(0, y0), min(W, x0 + w), min(H, y0 + h)
    if ax1 <= ax0 or ay1 <= ay0:
        return None
    a = m[ay0 - y0:ay1 - y0, ax0 - x0:ax1 - x0, None]
    sub = img[ay0:ay1, ax0:ax1].astype(np.float32)
    img[ay0:ay1, ax0:ax1] = (sub * (1 - a) + np.float32(colour) * a).astype(img.dtype)
    return (ax0, ay0, ax1, ay1)


def _digits(rng, n):
    return "".join(str(int(d)) for d in rng.integers(0, 10, n))


def _sign_text(rng):
    r = rng.random()
    if r < 0.35:
        return str(rng.choice(SIGN_WORDS))
    if r < 0.5:
        return "%s-%s-%s" % (_digits(rng, 2 + int(rng.integers(0, 3))), _digits(rng, 3 + int(rng.integers(0, 2))),
                             _digits(rng, 4))
    if r < 0.62:
        return "%s円" % "{:,}".format(int(rng.integers(1, 400)) * 10)
    if r < 0.75:
        # plate-like strings: a region word, a kana and digits
        return "%s %s %s" % (plategen.region_words()[int(rng.integers(0, len(plategen.region_words())))],
                             KANA[int(rng.integers(0, len(KANA)))], _digits(rng, int(rng.integers(2, 5))))
    if r < 0.88:
        return str(rng.choice(LATIN_WORDS))
    return "".join(KANA[int(i)] for i in rng.integers(0, len(KANA), int(rng.integers(2, 6))))


def _colour(rng, dark=None):
    if dark is None:
        dark = rng.random() < 0.5
    return rng.uniform(10, 70, 3) if dark else rng.uniform(170, 250, 3)


# ---------------------------------------------------------------- the car front, drawn in millimetres


def _rr(x0, y0, x1, y1, r, k):
    """Rounded rectangle polygon (shift 4) in canvas pixels from millimetre coordinates through k."""
    p = plategen._rounded_poly(*k(x0, y0), *k(x1, y1), r * k.s)
    return p


class _Canvas:
    """Maps millimetres on the car front (origin the plate centre, y down) to canvas pixels."""

    def __init__(self, x0, y0, x1, y1, s):
        self.x0, self.y0, self.s = x0, y0, s
        self.w, self.h = int(np.ceil((x1 - x0) * s)), int(np.ceil((y1 - y0) * s))

    def __call__(self, x, y):
        return (x - self.x0) * self.s, (y - self.y0) * self.s

    def pt(self, x, y):
        u, v = self(x, y)
        return int(round(u * 16)), int(round(v * 16))

    def poly(self, pts):
        return np.round(np.array([self(x, y) for x, y in pts]) * 16).astype(np.int32)

    def to_mm(self):
        """Canvas pixel -> millimetre matrix."""
        return np.array([[1 / self.s, 0, self.x0], [0, 1 / self.s, self.y0], [0, 0, 1]], np.float64)


def _fill(img, poly, colour):
    cv2.fillPoly(img, [poly], [float(c) for c in colour], cv2.LINE_AA, 4)


def _slats(img, rng, k, x0, y0, x1, y1, base):
    """A grille: horizontal or vertical slats, a honeycomb or square mesh, or chrome bars."""
    kind = rng.choice(["horizontal", "vertical", "honeycomb", "mesh", "bars"], p=[0.3, 0.15, 0.25, 0.15, 0.15])
    light = np.clip(base * rng.uniform(1.6, 3.0) + rng.uniform(10, 60), 0, 255)
    if rng.random() < 0.3:
        light = rng.uniform(170, 235) * np.ones(3)  # chrome
    pitch = rng.uniform(14, 45)
    lw = max(1, int(pitch * rng.uniform(0.15, 0.45) * k.s))
    if kind in ("horizontal", "bars"):
        y = y0 + pitch * 0.5
        while y < y1:
            cv2.line(img, k.pt(x0, y), k.pt(x1, y), light.tolist(), lw * (2 if kind == "bars" else 1), cv2.LINE_AA, 4)
            y += pitch * (2.0 if kind == "bars" else 1.0)
    elif kind == "vertical":
        x = x0 + pitch * 0.5
        while x < x1:
            cv2.line(img, k.pt(x, y0), k.pt(x, y1), light.tolist(), lw, cv2.LINE_AA, 4)
            x += pitch
    elif kind == "mesh":
        for x in np.arange(x0, x1, pitch):
            cv2.line(img, k.pt(x, y0), k.pt(x + (y1 - y0) * 0.3, y1), light.tolist(), lw, cv2.LINE_AA, 4)
            cv2.line(img, k.pt(x, y0), k.pt(x - (y1 - y0) * 0.3, y1), light.tolist(), lw, cv2.LINE_AA, 4)
    else:
        r = pitch * 0.55
        for j, y in enumerate(np.arange(y0, y1 + r, r * 1.5)):
            for x in np.arange(x0 + (r * 0.87 if j % 2 else 0), x1 + r, r * 1.73):
                hexa = [(x + r * np.cos(a), y + r * np.sin(a)) for a in np.radians(np.arange(30, 390, 60))]
                cv2.polylines(img, [k.poly(hexa)], True, light.tolist(), lw, cv2.LINE_AA, 4)


def _headlight(img, rng, k, cx, cy, w, h, side, rear, lit):
    shape = rng.choice(["ellipse", "rounded", "slanted"])
    x0, x1 = cx - w / 2, cx + w / 2
    y0, y1 = cy - h / 2, cy + h / 2
    if shape == "ellipse":
        poly = k.poly([(cx + w / 2 * np.cos(a), cy + h / 2 * np.sin(a)) for a in np.linspace(0, 2 * np.pi, 40)])
    elif shape == "rounded":
        poly = _rr(x0, y0, x1, y1, min(w, h) * rng.uniform(0.1, 0.5), k)
    else:
        d = h * rng.uniform(0.3, 0.9) * side
        poly = k.poly([(x0, y0 + max(0, -d)), (x1, y0 + max(0, d)), (x1 - w * 0.1, y1), (x0 + w * 0.1, y1)])
    housing = np.array([40, 40, 210], np.float64) * rng.uniform(0.6, 1.0) if rear else rng.uniform(150, 230) * np.ones(3)
    _fill(img, poly, housing * 0.7)
    inner = _rr(x0 + w * 0.08, y0 + h * 0.15, x1 - w * 0.08, y1 - h * 0.15, h * 0.2, k)
    _fill(img, inner, np.clip(housing * 1.1, 0, 255))
    if not rear:
        for i in range(int(rng.integers(1, 4))):
            px = cx + (i - 1) * w * 0.28 * side
            cv2.circle(img, k.pt(px, cy), int(h * rng.uniform(0.15, 0.3) * k.s * 16),
                       rng.uniform(60, 250, 3).tolist(), -1, cv2.LINE_AA, 4)
        if rng.random() < 0.5:  # LED strip
            cv2.line(img, k.pt(x0 + w * 0.1, y0 + h * 0.12), k.pt(x1 - w * 0.1, y0 + h * 0.12), (255, 255, 255),
                     max(1, int(h * 0.08 * k.s)), cv2.LINE_AA, 4)
    if lit:
        # the bloom of a lamp that is on, worked out on a patch around it only
        u, v = k(cx, cy)
        sigma = max(1.0, w * 0.25 * k.s)
        r = int(w * 0.3 * k.s + 3 * sigma) + 2
        x0p, y0p = max(0, int(u) - r), max(0, int(v) - r)
        x1p, y1p = min(img.shape[1], int(u) + r), min(img.shape[0], int(v) + r)
        if x1p > x0p and y1p > y0p:
            glow = np.zeros((y1p - y0p, x1p - x0p), np.float32)
            cv2.ellipse(glow, (int(u) - x0p, int(v) - y0p), (int(w * 0.3 * k.s) + 1, int(h * 0.3 * k.s) + 1),
                        0, 0, 360, 1.0, -1)
            glow = cv2.GaussianBlur(glow, (0, 0), sigma)
            col = np.float32([60, 60, 255]) if rear else np.float32([255, 255, 255])
            patch = img[y0p:y1p, x0p:x1p]
            patch[:] = np.minimum(255, patch + glow[..., None] * col * np.float32(rng.uniform(0.8, 2.0)))


def _badge(img, rng, k, pool, cx, cy, size, body):
    chrome = np.full(3, rng.uniform(170, 240))
    kind = rng.choice(["ellipse", "circle", "shield", "wing", "letters"])
    lw = max(1, int(size * 0.08 * k.s))
    if kind in ("ellipse", "circle"):
        ax = (size / 2, size / 2 * (0.65 if kind == "ellipse" else 1.0))
        cv2.ellipse(img, k.pt(cx, cy), (int(ax[0] * k.s * 16), int(ax[1] * k.s * 16)), 0, 0, 360, chrome.tolist(),
                    lw, cv2.LINE_AA, 4)
        if rng.random() < 0.6:
            cv2.ellipse(img, k.pt(cx, cy), (int(ax[0] * 0.5 * k.s * 16), int(ax[1] * 0.8 * k.s * 16)), 0, 0, 360,
                        chrome.tolist(), lw, cv2.LINE_AA, 4)
        else:
            _paste_text(img, rng, pool, str(rng.choice(list("ABCDEHKLMNRSTVZ"))), *k(cx, cy), size * 0.6 * k.s,
                        chrome)
    elif kind == "shield":
        s = size / 2
        _fill(img, k.poly([(cx - s, cy - s * 0.8), (cx + s, cy - s * 0.8), (cx + s * 0.8, cy + s * 0.3),
                           (cx, cy + s), (cx - s * 0.8, cy + s * 0.3)]), chrome)
        _fill(img, k.poly([(cx - s * 0.7, cy - s * 0.55), (cx + s * 0.7, cy - s * 0.55), (cx + s * 0.55, cy + s * 0.2),
                           (cx, cy + s * 0.7), (cx - s * 0.55, cy + s * 0.2)]), body * 0.5)
    elif kind == "wing":
        s = size / 2
        for sg in (-1, 1):
            cv2.line(img, k.pt(cx, cy + s * 0.3), k.pt(cx + sg * s * 1.4, cy - s * 0.4), chrome.tolist(), lw * 2,
                     cv2.LINE_AA, 4)
        cv2.circle(img, k.pt(cx, cy), int(s * 0.45 * k.s * 16), chrome.tolist(), -1, cv2.LINE_AA, 4)
    # the maker's or the model's name in capitals
    if kind == "letters" or rng.random() < 0.35:
        word = "".join(chr(65 + int(i)) for i in rng.integers(0, 26, int(rng.integers(3, 8))))
        _paste_text(img, rng, pool, word, *k(cx, cy + (0 if kind == "letters" else size * 0.75)),
                    size * rng.uniform(0.25, 0.45) * k.s, chrome)


def _dealer_frame(img, rng, k, pool, pw, ph):
    """A plate frame with the dealer's name and telephone number on its lower bar."""
    col = _colour(rng, dark=rng.random() < 0.6)
    top, side, bottom = rng.uniform(5, 14), rng.uniform(5, 14), rng.uniform(22, 38)
    outer = _rr(-pw / 2 - side, -ph / 2 - top, pw / 2 + side, ph / 2 + bottom, 14, k)
    _fill(img, outer, col)
    ink = np.clip(255 - col + rng.normal(0, 20, 3), 0, 255)
    text = str(rng.choice(SIGN_WORDS + LATIN_WORDS)) if rng.random() < 0.6 else \
        "TEL %s-%s-%s" % (_digits(rng, 2), _digits(rng, 4), _digits(rng, 4))
    _paste_text(img, rng, pool, text, *k(0, ph / 2 + bottom * 0.5), bottom * 0.6 * k.s, ink, max_w=pw * 0.95 * k.s)
    if rng.random() < 0.4:
        _paste_text(img, rng, pool, str(rng.choice(LATIN_WORDS)), *k(0, -ph / 2 - top * 0.5), top * 0.7 * k.s, ink,
                    max_w=pw * 0.6 * k.s)


def _sticker(img, rng, k, pool, cx, cy, size):
    col = _colour(rng)
    if rng.random() < 0.5:
        cv2.circle(img, k.pt(cx, cy), int(size / 2 * k.s * 16), col.tolist(), -1, cv2.LINE_AA, 4)
    else:
        _fill(img, _rr(cx - size * 0.7, cy - size * 0.4, cx + size * 0.7, cy + size * 0.4, size * 0.1, k), col)
    ink = np.clip(255 - col, 0, 255)
    text = str(int(rng.integers(1, 13))) if rng.random() < 0.5 else _sign_text(rng)
    _paste_text(img, rng, pool, text, *k(cx, cy), size * 0.45 * k.s, ink, max_w=size * 1.3 * k.s)


def _car_front(rng, pool, pw, ph, s, with_plate):
    """The car front around the plate as (picture, coverage, millimetre bounds), drawn frontally."""
    rear = rng.random() < 0.3
    half = rng.uniform(780, 930)
    off = rng.normal(0, 30) if rng.random() < 0.8 else rng.uniform(-350, 350)  # most plates sit in the middle
    cx = -off
    bottom = ph / 2 + rng.uniform(150, 420)       # lower edge of the bumper
    hood = -ph / 2 - rng.uniform(380, 800)        # where the bonnet (or boot lid) starts
    glass_top = hood - rng.uniform(350, 650)
    ground = bottom + rng.uniform(120, 260)
    k = _Canvas(cx - half - 250, glass_top - 120, cx + half + 250, ground + 500, s)
    img = np.zeros((k.h, k.w, 3), np.float32)
    cover = np.zeros((k.h, k.w), np.float32)

    col = np.clip(np.array(plategen.CAR_COLOURS[int(rng.integers(0, len(plategen.CAR_COLOURS)))], np.float64)
                  + rng.normal(0, 10, 3), 0, 255)
    # the shadow under the car; the road itself is the photograph's, so no edge of a drawn road shows
    g = np.clip(rng.uniform(50, 140) + rng.normal(0, 6, 3), 0, 255)
    shadow = _rr(cx - half * 1.02, bottom - 40, cx + half * 1.02, ground + 30, 30, k)
    _fill(img, shadow, g * 0.25)
    _fill(cover, shadow, [rng.uniform(0.6, 0.95)])
    for sg in (-1, 1):
        tyre = _rr(cx + sg * half * 0.8 - 170, bottom - 250, cx + sg * half * 0.8 + 170, ground, 60, k)
        _fill(img, tyre, [18, 18, 20])
        _fill(cover, tyre, [1.0])
    # glass and roof
    roof = k.poly([(cx - half * 0.82, hood + 40), (cx + half * 0.82, hood + 40), (cx + half * 0.62, glass_top),
                   (cx - half * 0.62, glass_top)])
    _fill(img, roof, col * 0.85)
    _fill(cover, roof, [1.0])
    glass = k.poly([(cx - half * 0.74, hood + 20), (cx + half * 0.74, hood + 20), (cx + half * 0.57, glass_top + 50),
                    (cx - half * 0.57, glass_top + 50)])
    gcol = np.clip(rng.uniform(20, 80) + rng.normal(0, 8, 3), 0, 255)
    _fill(img, glass, gcol)
    refl = k.poly([(cx - half * 0.3, hood + 20), (cx - half * 0.05, hood + 20), (cx + half * 0.2, glass_top + 50),
                   (cx - half * 0.05, glass_top + 50)])
    _fill(img, refl, np.clip(gcol + rng.uniform(15, 60), 0, 255))
    # body with a vertical light falloff and a bright band where the bonnet bends
    body = np.zeros((k.h, k.w), np.uint8)
    cv2.fillPoly(body, [_rr(cx - half, hood, cx + half, bottom, rng.uniform(60, 200), k)], 255, cv2.LINE_AA, 4)
    yy = np.arange(k.h, dtype=np.float32)[:, None] / k.s + k.y0
    t = np.clip((yy - hood) / max(1.0, bottom - hood), 0, 1)
    shade = (1.15 - 0.4 * t)[..., None] + 0.25 * np.exp(-((yy - hood - 60) / 40.0) ** 2)[..., None]
    m = body.astype(np.float32)[..., None] / 255.0
    img = img * (1 - m) + np.clip(col[None, None, :] * shade, 0, 255) * m
    cover = np.maximum(cover, m[..., 0])
    # bumper (often black plastic) and the lower intake below the plate
    bump_top = ph / 2 + rng.uniform(-60, 120) if rng.random() < 0.5 else -ph / 2 - rng.uniform(20, 120)
    bcol = col * rng.uniform(0.6, 1.0) if rng.random() < 0.6 else np.array([30, 30, 33], np.float64)
    _fill(img, _rr(cx - half * 1.01, bump_top, cx + half * 1.01, bottom + 10, 80, k), bcol)
    if not rear and rng.random() < 0.8:
        iy0 = ph / 2 + rng.uniform(15, 60)
        iy1 = min(bottom - 30, iy0 + rng.uniform(80, 220))
        if iy1 > iy0 + 30:
            iw = rng.uniform(300, half * 0.9)
            _fill(img, _rr(cx - iw, iy0, cx + iw, iy1, 40, k), [22, 22, 25])
            _slats(img, rng, k, cx - iw, iy0, cx + iw, iy1, np.array([22.0, 22, 25]))
    # lamps
    ly = -ph / 2 - rng.uniform(100, 380)
    lw, lh = rng.uniform(230, 420), rng.uniform(80, 200)
    lit = rng.random() < 0.3
    for sg in (-1, 1):
        _headlight(img, rng, k, cx + sg * (half - lw / 2 - rng.uniform(10, 60)), ly, lw, lh, sg, rear, lit)
    if not rear and rng.random() < 0.4:
        for sg in (-1, 1):
            cv2.circle(img, k.pt(cx + sg * half * 0.75, ph / 2 + 60), int(rng.uniform(25, 50) * k.s * 16),
                       rng.uniform(150, 240, 3).tolist(), -1, cv2.LINE_AA, 4)
    # upper grille between the lamps, the badge on it or on the boot lid
    gx = half - lw - rng.uniform(20, 120)
    gy0 = ly - lh * rng.uniform(0.3, 0.6)
    gy1 = -ph / 2 - rng.uniform(10, 80)
    if not rear and gx > 150 and gy1 > gy0 + 40:
        gcol2 = np.clip(col * rng.uniform(0.1, 0.4) + 8, 0, 255)
        _fill(img, _rr(cx - gx, gy0, cx + gx, gy1, rng.uniform(10, 80), k), gcol2)
        _slats(img, rng, k, cx - gx, gy0, cx + gx, gy1, gcol2)
        if rng.random() < 0.5:  # chrome surround
            cv2.polylines(img, [_rr(cx - gx, gy0, cx + gx, gy1, 40, k)], True, [200, 200, 205],
                          max(1, int(12 * k.s)), cv2.LINE_AA, 4)
    if rng.random() < 0.85:
        by = (gy0 + gy1) / 2 if not rear else -ph / 2 - rng.uniform(80, 250)
        _badge(img, rng, k, pool, cx, by, rng.uniform(70, 170), col)
    if rear and rng.random() < 0.7:
        for sg in (-1, 1):
            if rng.random() < 0.6:
                word = str(rng.choice(LATIN_WORDS)) if rng.random() < 0.6 else "".join(
                    chr(65 + int(i)) for i in rng.integers(0, 26, int(rng.integers(2, 6))))
                _paste_text(img, rng, pool, word, *k(cx + sg * half * 0.55, -ph / 2 - 60), 40 * k.s,
                            np.full(3, rng.uniform(170, 240)))
    # the plate's place: a recess or holder, a dealer's frame
    if rng.random() < 0.6:
        _fill(img, _rr(-pw / 2 - 30, -ph / 2 - 25, pw / 2 + 30, ph / 2 + 25, 25, k), col * rng.uniform(0.3, 0.8))
    if with_plate and rng.random() < 0.45:
        _dealer_frame(img, rng, k, pool, pw, ph)
    elif not with_plate and rng.random() < 0.5:
        # an empty holder with its bolt holes
        _fill(img, _rr(-pw / 2, -ph / 2, pw / 2, ph / 2, 12, k), np.clip(rng.uniform(15, 60, 3), 0, 255))
        for bx in (-pw * 0.32, pw * 0.32):
            cv2.circle(img, k.pt(bx, -ph * 0.31), int(8 * k.s * 16), [90, 90, 90], -1, cv2.LINE_AA, 4)
    for _ in range(int(rng.poisson(0.8))):
        # stickers on the glass and the bumper
        if rng.random() < 0.6:
            sx, sy = cx + rng.uniform(-half * 0.5, half * 0.5), glass_top + rng.uniform(80, 200)
        else:
            sx, sy = cx + rng.choice([-1, 1]) * rng.uniform(pw * 0.7, half * 0.8), rng.uniform(-40, 120)
        _sticker(img, rng, k, pool, sx, sy, rng.uniform(50, 140))
    dims = {"cx": cx, "half": half, "hood": hood, "bottom": bottom, "glass_top": glass_top, "ground": ground,
            "colour": col, "glass": gcol}
    return np.clip(img, 0, 255), cover, k, dims


def _car_side(rng, dims, s):
    """The flank that a turned camera sees: body, windows, wheels, drawn in (depth, height) millimetres."""
    length = rng.uniform(3400, 4700)
    k = _Canvas(0, dims["glass_top"] - 60, length, dims["ground"] + 20, s)
    img = np.zeros((k.h, k.w, 3), np.float32)
    cover = np.zeros((k.h, k.w), np.float32)
    col, hood, bottom = dims["colour"], dims["hood"], dims["bottom"]
    body = _rr(0, hood, length, bottom, 80, k)
    _fill(img, body, col * rng.uniform(0.7, 0.95))
    _fill(cover, body, [1.0])
    roof = k.poly([(150, hood + 20), (length - 250, hood + 20), (length - 700, dims["glass_top"]),
                   (900, dims["glass_top"])])
    _fill(img, roof, col * 0.8)
    _fill(cover, roof, [1.0])
    win = k.poly([(500, hood - 10), (length - 450, hood - 10), (length - 800, dims["glass_top"] + 60),
                  (1050, dims["glass_top"] + 60)])
    _fill(img, win, dims["glass"])
    cv2.line(img, k.pt(length * 0.52, hood), k.pt(length * 0.52, dims["glass_top"] + 60), (col * 0.6).tolist(),
             max(1, int(60 * s)), cv2.LINE_AA, 4)
    # a crease line and the door handles
    cv2.line(img, k.pt(60, hood + 180), k.pt(length - 60, hood + 180), np.clip(col * 1.2, 0, 255).tolist(),
             max(1, int(12 * s)), cv2.LINE_AA, 4)
    r = rng.uniform(290, 340)
    for z in (rng.uniform(650, 850), length - rng.uniform(700, 900)):
        cv2.circle(img, k.pt(z, dims["ground"] - r), int((r + 40) * s * 16), (15, 15, 17), -1, cv2.LINE_AA, 4)
        cv2.circle(cover, k.pt(z, dims["ground"] - r), int((r + 40) * s * 16), 1.0, -1, cv2.LINE_AA, 4)
        cv2.circle(img, k.pt(z, dims["ground"] - r), int(r * 0.62 * s * 16), rng.uniform(90, 200, 3).tolist(), -1,
                   cv2.LINE_AA, 4)
    return np.clip(img, 0, 255), cover, k


def _signs(img, rng, pool, avoid):
    """Shop and parking signs with words, digits and kana on the backdrop, away from the plate."""
    h, w = img.shape[:2]
    for _ in range(int(rng.integers(0, 4))):
        sw = rng.uniform(0.08, 0.35) * w
        sh = sw * rng.uniform(0.25, 0.7)
        x0, y0 = rng.uniform(0, w - sw), rng.uniform(0, h - sh)
        if avoid is not None and (x0 < avoid[2] and x0 + sw > avoid[0] and y0 < avoid[3] and y0 + sh > avoid[1]):
            continue
        sign = np.zeros((int(sh), int(sw), 3), np.uint8)
        col = _colour(rng)
        sign[:] = np.clip(col, 0, 255).astype(np.uint8)
        ink = np.clip(255 - col + rng.normal(0, 30, 3), 0, 255)
        lines = int(rng.integers(1, 3))
        for i in range(lines):
            _paste_text(sign, rng, pool, _sign_text(rng), sw / 2, sh * (i + 0.5) / lines, sh / lines * 0.6, ink,
                        max_w=sw * 0.92)
        # a gentle perspective of its own
        src = np.float32([[0, 0], [sw, 0], [sw, sh], [0, sh]])
        dst = src + np.float32([x0, y0]) + rng.normal(0, sw * 0.04, (4, 2)).astype(np.float32)
        M = cv2.getPerspectiveTransform(src, dst)
        warped = cv2.warpPerspective(sign, M, (w, h), flags=cv2.INTER_LINEAR)
        m = cv2.warpPerspective(np.ones(sign.shape[:2], np.float32), M, (w, h), flags=cv2.INTER_LINEAR)[..., None]
        img[:] = (img * (1 - m) + warped * m).astype(np.uint8)


# ---------------------------------------------------------------- camera geometry


def _rotation(yaw, pitch, roll):
    cy, sy = np.cos(yaw), np.sin(yaw)
    cp, sp = np.cos(pitch), np.sin(pitch)
    cr, sr = np.cos(roll), np.sin(roll)
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    rx = np.array([[1, 0, 0], [0, cp, -sp], [0, sp, cp]])
    rz = np.array([[cr, -sr, 0], [sr, cr, 0], [0, 0, 1]])
    return rz @ rx @ ry


def _plane_homography(pose):
    """Millimetres on the car front -> scene pixels."""
    K = np.array([[pose["f"], 0, pose["cx"]], [0, pose["f"], pose["cy"]], [0, 0, 1]])
    R = _rotation(pose["yaw"], pose["pitch"], pose["roll"])
    ray = np.linalg.inv(K) @ np.array([pose["u"], pose["v"], 1.0])
    t = ray / ray[2] * pose["dist"]
    return K @ np.column_stack([R[:, 0], R[:, 1], t])


def _project(H, pts):
    p = np.column_stack([pts, np.ones(len(pts))]) @ H.T
    return (p[:, :2] / p[:, 2:3]).astype(np.float32)


def _plate_mm(plate_size):
    pw = PLATE_MM[0]
    return pw, pw * plate_size[1] / float(plate_size[0])


def _fit_inside(pose, pw, ph, w, h):
    """Moves the aim so the whole plate lies inside the picture with a few pixels to spare."""
    corners = np.array([[-pw / 2, -ph / 2], [pw / 2, -ph / 2], [pw / 2, ph / 2], [-pw / 2, ph / 2]])
    for _ in range(4):
        q = _project(_plane_homography(pose), corners)
        lo, hi = q.min(axis=0), q.max(axis=0)
        shift = np.maximum(0, 3 - lo) - np.maximum(0, hi - (np.array([w, h]) - 4))
        if not shift.any():
            break
        pose["u"] += float(shift[0])
        pose["v"] += float(shift[1])
    return q


def new_scene(rng, plate_size, size=None, pool="train", negative=False):
    """Layout of one vehicle: backdrop photograph with signs, car front canvas, camera pose. negative: the
    car carries no plate (or no car is there at all)."""
    if pool not in POOLS:
        raise ValueError("unknown scene pool: " + str(pool))
    w, h = size or SCENE_SIZES[int(rng.integers(0, len(SCENE_SIZES)))]
    pw, ph = _plate_mm(plate_size)
    # plate width in the picture, 40 px up to 340 px (and no more than half the picture), log-uniform
    px = float(np.exp(rng.uniform(np.log(40.0), np.log(min(340.0, w * 0.5)))))
    f = w * rng.uniform(0.7, 1.6)
    dist = f * pw / px
    if dist < 2200.0:
        # a close plate is a long lens, not a camera inside the bumper
        dist = 2200.0
        f = dist * px / pw
    yaw = MAX_YAW * rng.uniform(0, 1) ** 1.4 * rng.choice([-1, 1])
    pose = {"f": f, "cx": w / 2.0, "cy": h / 2.0, "dist": dist, "yaw": float(yaw),
            "pitch": float(np.radians(rng.uniform(-8, 22))), "roll": float(np.radians(rng.normal(0, 3))),
            "u": float(rng.uniform(w * 0.15, w * 0.85)), "v": float(rng.uniform(h * 0.3, h * 0.85))}
    _fit_inside(pose, pw, ph, w, h)
    # canvas resolution: about that of the picture at the plate (finer only costs time)
    s = float(np.clip(px / pw, 0.1, 0.75))
    no_car = negative and rng.random() < 0.3
    car = side = None
    if not no_car:
        car = _car_front(rng, pool, pw, ph, s, not negative)
        side = _car_side(rng, car[3], s)
    bg = _photo_crop(rng, pool, w, h)
    if car is not None and rng.random() < 0.7:
        car = (_reflect(rng, car[0], bg),) + tuple(car[1:])
        side = (_reflect(rng, side[0], bg),) + tuple(side[1:])
    quad = _project(_plane_homography(pose), np.array([[-pw / 2, -ph / 2], [pw / 2, -ph / 2], [pw / 2, ph / 2],
                                                       [-pw / 2, ph / 2]]))
    lo, hi = quad.min(axis=0), quad.max(axis=0)
    _signs(bg, rng, pool, None if car is None else (lo[0] - (hi[0] - lo[0]) * 3, 0, hi[0] + (hi[0] - lo[0]) * 3, h))
    return {"background": bg, "car": car, "side": side, "pose": pose, "plate_mm": (pw, ph), "negative": bool(negative),
            "quad": quad, "light_angle": rng.uniform(0, 2 * np.pi), "light_strength": rng.uniform(0.0, 0.5),
            "brightness": rng.uniform(0.7, 1.2), "pool": pool}


def _jittered_pose(rng, pose, amount):
    p = dict(pose)
    if amount > 0:
        p["u"] += rng.normal(0, 6 * amount)
        p["v"] += rng.normal(0, 6 * amount)
        p["dist"] *= 1.0 + rng.normal(0, 0.04 * amount)
        p["yaw"] += rng.normal(0, np.radians(1.5) * amount)
        p["pitch"] += rng.normal(0, np.radians(1.0) * amount)
        p["roll"] += rng.normal(0, np.radians(0.7) * amount)
    return p


def _reflect(rng, layer, bg):
    """Paint and glass mirror the surroundings: a blurred, upside-down piece of the backdrop over the car."""
    h, w = layer.shape[:2]
    bh, bw = bg.shape[:2]
    y0 = int(rng.integers(0, max(1, bh // 2)))
    mirror = cv2.resize(bg[y0:, :][::-1], (w, h), interpolation=cv2.INTER_LINEAR).astype(np.float32)
    mirror = cv2.GaussianBlur(mirror, (0, 0), max(1.0, w / 200.0))
    a = np.float32(rng.uniform(0.08, 0.3))
    return layer * (1 - a) + mirror * a


def _side_homography(pose, dims):
    """(depth, height) millimetres on the flank that faces the camera -> scene pixels; None when the camera
    looks at the front squarely enough to see neither flank."""
    if abs(pose["yaw"]) < np.radians(6):
        return None
    K = np.array([[pose["f"], 0, pose["cx"]], [0, pose["f"], pose["cy"]], [0, 0, 1]])
    R = _rotation(pose["yaw"], pose["pitch"], pose["roll"])
    ray = np.linalg.inv(K) @ np.array([pose["u"], pose["v"], 1.0])
    t = ray / ray[2] * pose["dist"]
    for sgn in (-1, 1):
        xs = dims["cx"] + sgn * dims["half"]
        corner = R[:, 0] * xs + t
        if np.dot(R[:, 0] * sgn, -corner) > 0:
            return K @ np.column_stack([R[:, 2], R[:, 1], corner])
    return None


def _composite(img, layer, cover, H, w, h):
    warped = cv2.warpPerspective(layer, H, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)
    m = cv2.warpPerspective(cover, H, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)[..., None]
    return img * (1 - m) + warped * m


def render_scene(plate_img, rng, scene, jitter=0.0, plate_mask_img=None, look=None):
    """One frame of a layout from new_scene: (scene BGR, corners tl, tr, br, bl in scene pixels), corners None
    when the scene has no plate. The camera model acts on the whole picture."""
    img = scene["background"].astype(np.float32)
    h, w = img.shape[:2]
    pw, ph = scene["plate_mm"]
    pose = _jittered_pose(rng, scene["pose"], jitter)
    quad = _fit_inside(pose, pw, ph, w, h)
    H = _plane_homography(pose)
    if scene["car"] is not None:
        car, cover, k, dims = scene["car"]
        Hs = _side_homography(pose, dims)
        if Hs is not None:
            simg, scover, sk = scene["side"]
            img = _composite(img, simg, scover, Hs @ sk.to_mm(), w, h)
        img = _composite(img, car, cover, H @ k.to_mm(), w, h)
    corners = None
    if not scene["negative"]:
        sh, sw = plate_img.shape[:2]
        to_mm = np.array([[pw / sw, 0, -pw / 2], [0, ph / sh, -ph / 2], [0, 0, 1]])
        Hp = H @ to_mm
        mask = plate_mask_img if plate_mask_img is not None else plategen.plate_mask(sw, sh)
        warped = cv2.warpPerspective(plate_img, Hp, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)
        wm = cv2.warpPerspective(mask, Hp, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)
        img = img * (1 - wm[..., None]) + warped.astype(np.float32)
        corners = quad
    yy, xx = plategen._grid(h, w)
    a = scene["light_angle"] + rng.normal(0, 0.1 * jitter)
    g = (xx / w - 0.5) * np.cos(a) + (yy / h - 0.5) * np.sin(a)
    img *= (scene["brightness"] * (1 + scene["light_strength"] * g))[..., None]
    img = np.clip(img, 0, 255).astype(np.uint8)
    img = camera.shoot(rng, img, quad=quad, look=look)
    return img, corners
