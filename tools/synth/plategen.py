"""Synthetic Japanese licence plates: plate text, clean frontal plates, scenes and ROI cuts.

Geometry follows the medium plate (330 x 165 mm): the layout below is given in millimetres
and scaled to the requested pixel width. Everything random is drawn from the numpy Generator
passed in, so a seed fixes every picture.
"""

import os
import subprocess

import cv2
import numpy as np
from PIL import Image, ImageDraw, ImageFont

REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
REGION_WORDS_PATH = os.path.join(REPO_ROOT, "dict", "region_words.txt")

PLATE_MM = (330.0, 165.0)
RECT_SIZE = (320, 96)  # what the reader warps a plate to

KANA_PRIVATE = "さすせそたちつてとなにぬねのはひふほまみむめもやゆらりるろ"
KANA_COMMERCIAL = "あいうえかきくけこを"
KANA_RENTAL = "れわ"
KANA_KEI_EXTRA = "あいうえかきくけこよ"
# The reader's kana table lacks を, so a plate showing it cannot be reported exactly.
KANA_UNREADABLE = "を"
CLASS_LETTERS = "ACFHKLMPXY"
# Region names written in hiragana: the reader counts their kana as the plate's kana.
HIRAGANA_REGIONS = ("とちぎ", "つくば", "なにわ", "いわき")

FAMILIES = ("private", "commercial", "rental", "kei_private", "kei_commercial")
FAMILY_WEIGHTS = (0.52, 0.12, 0.08, 0.20, 0.08)

# (background, characters) in RGB
FAMILY_COLOURS = {
    "private": ((236, 240, 236), (22, 96, 58)),
    "rental": ((236, 240, 236), (22, 96, 58)),
    "commercial": ((24, 104, 62), (240, 242, 238)),
    "kei_private": ((238, 206, 44), (26, 26, 24)),
    "kei_commercial": ((28, 28, 26), (236, 204, 48)),
}

# first digit of the class number by family
CLASS_FIRST_DIGITS = {
    "private": "3355577",
    "rental": "3557",
    "commercial": "1134568",
    "kei_private": "5577",
    "kei_commercial": "44488",
}

# Layout in millimetres on the 330 x 165 plate: boxes are (x, y, w, h).
UPPER_TOP, UPPER_H = 13.0, 36.0
CLASS_CELL_W, CLASS_GAP = 20.0, 3.0
REGION_CLASS_GAP = 9.0
KANA_BOX = (13.0, 84.0, 44.0, 46.0)
SERIAL_TOP, SERIAL_H = 64.0, 86.0
SERIAL_LEFT = 100.0
SERIAL_CELL_W, SERIAL_GAP, HYPHEN_CELL_W = 44.0, 4.0, 24.0
BOLT_CENTRES = ((58.0, 31.0), (272.0, 31.0))
BOLT_RADIUS = 8.5
CORNER_RADIUS = 12.0
BORDER_INSET, BORDER_WIDTH = 4.0, 1.6


# ---------------------------------------------------------------- word lists


_region_words = None


def region_words():
    global _region_words
    if _region_words is None:
        with open(REGION_WORDS_PATH, encoding="utf-8") as f:
            _region_words = [line.strip() for line in f if line.strip()]
    return _region_words


def plate_characters():
    """Every character the generator can draw, default and hard sets together."""
    chars = set("0123456789-・")
    chars.update(KANA_PRIVATE + KANA_COMMERCIAL + KANA_RENTAL + KANA_KEI_EXTRA)
    chars.update(CLASS_LETTERS)
    for word in region_words():
        chars.update(word)
    return chars


# ---------------------------------------------------------------- plate text


def format_serial(digits):
    return digits[:2] + "-" + digits[2:] if len(digits) == 4 else digits


def printed_serial(digits):
    """The serial as painted: 4 places, '・' for empty leading places, hyphen only with 4 digits."""
    if len(digits) == 4:
        return digits[:2] + "-" + digits[2:]
    padded = "・" * (4 - len(digits)) + digits
    return padded[:2] + " " + padded[2:] if len(digits) == 3 else padded


def _random_serial(rng, lengths, weights):
    n = int(rng.choice(lengths, p=weights))
    first = str(int(rng.integers(1, 10)))
    rest = "".join(str(int(d)) for d in rng.integers(0, 10, size=n - 1))
    return first + rest


def _random_class_no(rng, family, style):
    first = str(rng.choice(list(CLASS_FIRST_DIGITS[family])))
    if style == "short":
        n = int(rng.integers(1, 3))
        return first + "".join(str(int(d)) for d in rng.integers(0, 10, size=n - 1))
    tail = [str(int(d)) for d in rng.integers(0, 10, size=2)]
    if style == "letter":
        places = [[0], [1], [0, 1]][int(rng.integers(0, 3))]
        for p in places:
            tail[p] = str(rng.choice(list(CLASS_LETTERS)))
    return first + "".join(tail)


def _kana_pool(family):
    if family == "private":
        return KANA_PRIVATE
    if family == "rental":
        return KANA_RENTAL
    if family == "commercial":
        return KANA_COMMERCIAL
    if family == "kei_private":
        return KANA_PRIVATE + KANA_KEI_EXTRA
    return KANA_COMMERCIAL


def random_plate_spec(rng, hard=False):
    """Draw a plate's text.

    The default plate is one the reader can report exactly: three-digit class number,
    three- or four-digit serial, a kanji region name and a kana from the reader's table.
    With hard=True at least one of these is broken (letters or short class number, short
    serial, hiragana region name, the kana を).
    """
    family = str(rng.choice(FAMILIES, p=FAMILY_WEIGHTS))
    reasons = []
    if hard:
        pool = ["class_letter", "class_short", "serial_short", "hiragana_region"]
        if "を" in _kana_pool(family):
            pool.append("kana_wo")
        picked = [pool[int(rng.integers(0, len(pool)))]]
        for extra in pool:
            if extra not in picked and extra != "class_short" and rng.random() < 0.15:
                picked.append(extra)
        if "class_short" in picked and "class_letter" in picked:
            picked.remove("class_letter")
        reasons = picked

    words = region_words()
    if "hiragana_region" in reasons:
        region = str(rng.choice(HIRAGANA_REGIONS))
    else:
        kanji_words = [w for w in words if w not in HIRAGANA_REGIONS]
        region = str(kanji_words[int(rng.integers(0, len(kanji_words)))])

    style = "letter" if "class_letter" in reasons else "short" if "class_short" in reasons else "plain"
    class_no = _random_class_no(rng, family, style)

    pool = _kana_pool(family)
    if "kana_wo" in reasons:
        kana = KANA_UNREADABLE
    else:
        readable = [k for k in pool if k not in KANA_UNREADABLE]
        kana = readable[int(rng.integers(0, len(readable)))]

    if "serial_short" in reasons:
        serial = _random_serial(rng, [1, 2], [0.4, 0.6])
    else:
        serial = _random_serial(rng, [3, 4], [0.3, 0.7])

    return {
        "region": region,
        "class_no": class_no,
        "kana": kana,
        "serial_digits": serial,
        "serial_printed": printed_serial(serial),
        "family": family,
        "expected": " ".join([region, class_no, kana, format_serial(serial)]),
        "hard": bool(reasons),
        "hard_reasons": reasons,
    }


# ---------------------------------------------------------------- fonts and glyphs


def _find_font(candidates, fc_pattern):
    for path, index in candidates:
        if os.path.exists(path):
            return path, index
    try:
        out = subprocess.run(["fc-list", fc_pattern, "file"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            path = line.split(":")[0].strip()
            if path:
                return path, 0
    except OSError:
        pass
    raise RuntimeError("no Japanese font found (install fonts-noto-cjk or fonts-ipafont-gothic)")


_fonts = None


def fonts():
    """(path, face index) of the plate faces: bold first (the usual one), then lighter ones."""
    global _fonts
    if _fonts is None:
        bold = _find_font([("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", 0)], ":lang=ja:style=Bold")
        regular = _find_font([("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 0),
                              ("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0)], ":lang=ja")
        gothic = _find_font([("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf", 0),
                             ("/usr/share/fonts/truetype/fonts-japanese-gothic.ttf", 0)], ":lang=ja")
        _fonts = [bold, regular, gothic]
    return _fonts


FONT_WEIGHTS = (0.8, 0.12, 0.08)
_GLYPH_PX = 160
_glyph_cache = {}


def _glyph(font, text):
    """Tight 8-bit coverage mask of text drawn in font, cached."""
    key = (font, text)
    mask = _glyph_cache.get(key)
    if mask is None:
        face = ImageFont.truetype(font[0], _GLYPH_PX, index=font[1])
        w = int(_GLYPH_PX * (len(text) + 1))
        canvas = Image.new("L", (w, _GLYPH_PX * 2), 0)
        ImageDraw.Draw(canvas).text((_GLYPH_PX // 4, _GLYPH_PX // 4), text, font=face, fill=255)
        a = np.asarray(canvas)
        ys, xs = np.nonzero(a > 8)
        mask = a[ys.min():ys.max() + 1, xs.min():xs.max() + 1].copy()
        _glyph_cache[key] = mask
    return mask


def _paste_max(canvas, mask, x, y, w, h):
    """Resize mask to w x h (pixels, floats allowed) and max it into canvas at (x, y)."""
    x0, y0 = int(round(x)), int(round(y))
    w, h = max(1, int(round(w))), max(1, int(round(h))) 
    m = cv2.resize(mask, (w, h), interpolation=cv2.INTER_AREA if w < mask.shape[1] else cv2.INTER_LINEAR)
    H, W = canvas.shape
    x1, y1 = min(W, x0 + w), min(H, y0 + h)
    if x1 <= max(0, x0) or y1 <= max(0, y0):
        return
    sub = m[max(0, -y0):max(0, -y0) + (y1 - max(0, y0)), max(0, -x0):max(0, -x0) + (x1 - max(0, x0))]
    np.maximum(canvas[max(0, y0):y1, max(0, x0):x1], sub, out=canvas[max(0, y0):y1, max(0, x0):x1])


def _draw_cell_char(canvas, font, ch, cell, ref_w, s):
    """A digit or letter filling the cell's height; width scaled like the reference '0'."""
    x, y, w, h = cell
    g = _glyph(font, ch)
    scale_y = h / g.shape[0]
    gw = min(w, g.shape[1] * scale_y * ref_w)
    _paste_max(canvas, g, x + (w - gw) / 2.0, y, gw, h)
    return [x + (w - gw) / 2.0, y, gw, h]


def _draw_dot(canvas, cell, s):
    x, y, w, h = cell
    r = 5.2 * s
    cx, cy = x + w / 2.0, y + h / 2.0
    cv2.circle(canvas, (int(round(cx * 16)), int(round(cy * 16))), int(round(r * 16)), 255, -1,
               lineType=cv2.LINE_AA, shift=4)
    return [cx - r, cy - r, 2 * r, 2 * r]


def _draw_hyphen(canvas, cell, s):
    x, y, w, h = cell
    bar_w, bar_h = w * 0.82, 7.5 * s
    x0, y0 = x + (w - bar_w) / 2.0, y + h / 2.0 - bar_h / 2.0
    cv2.rectangle(canvas, (int(round(x0)), int(round(y0))), (int(round(x0 + bar_w)), int(round(y0 + bar_h))),
                  255, -1, lineType=cv2.LINE_AA)
    return [x0, y0, bar_w, bar_h]


def _union(boxes):
    x0 = min(b[0] for b in boxes)
    y0 = min(b[1] for b in boxes)
    x1 = max(b[0] + b[2] for b in boxes)
    y1 = max(b[1] + b[3] for b in boxes)
    return [x0, y0, x1 - x0, y1 - y0]


def _region_box_mm(n_chars):
    # region words shrink per character as they get longer, so the upper row keeps its width
    widths = {1: 40.0, 2: 72.0, 3: 96.0, 4: 108.0}
    heights = {1: 34.0, 2: 34.0, 3: 32.0, 4: 30.0}
    return widths.get(n_chars, 108.0), heights.get(n_chars, 30.0)


def _text_layout(plate_plan, rng, s, font):
    """Draw all characters into one mask; returns the mask, char boxes and line boxes (pixels)."""
    W, H = int(round(PLATE_MM[0] * s)), int(round(PLATE_MM[1] * s))
    canvas = np.zeros((H, W), np.uint8)
    chars = []
    jit = lambda: float(rng.normal(0.0, 0.5)) * s  # printing tolerance, about half a millimetre

    zero = _glyph(font, "0")
    # digit widths relative to a cell-filling '0'
    ref_class = (CLASS_CELL_W / (zero.shape[1] / zero.shape[0] * UPPER_H))
    ref_serial = (SERIAL_CELL_W / (zero.shape[1] / zero.shape[0] * SERIAL_H))

    # upper row: region word then class number, centred as one group
    region = plate_plan["region"]
    rw, rh = _region_box_mm(len(region))
    class_no = plate_plan["class_no"]
    cw = len(class_no) * CLASS_CELL_W + (len(class_no) - 1) * CLASS_GAP
    total = rw + REGION_CLASS_GAP + cw
    left = (PLATE_MM[0] - total) / 2.0 + 4.0
    region_box = [(left) * s + jit(), (UPPER_TOP + (UPPER_H - rh) / 2.0) * s + jit(), rw * s, rh * s]
    g = _glyph(font, region)
    _paste_max(canvas, g, *region_box)
    chars.append({"char": region, "box": region_box})
    class_boxes = []
    x = left + rw + REGION_CLASS_GAP
    for ch in class_no:
        cell = [x * s + jit() * 0.5, UPPER_TOP * s + jit() * 0.5, CLASS_CELL_W * s, UPPER_H * s]
        box = _draw_cell_char(canvas, font, ch, cell, ref_class, s)
        class_boxes.append(box)
        chars.append({"char": ch, "box": box})
        x += CLASS_CELL_W + CLASS_GAP

    # lower row: kana at the left, four serial places
    kx, ky, kw, kh = KANA_BOX
    g = _glyph(font, plate_plan["kana"])
    fit = min(kw / g.shape[1], kh / g.shape[0])
    gw, gh = g.shape[1] * fit, g.shape[0] * fit
    kana_box = [(kx + (kw - gw) / 2.0) * s + jit(), (ky + (kh - gh) / 2.0) * s + jit(), gw * s, gh * s]
    _paste_max(canvas, g, *kana_box)
    chars.append({"char": plate_plan["kana"], "box": kana_box})

    printed = plate_plan["serial_printed"]
    places = printed.replace("-", "").replace(" ", "")
    serial_boxes = []
    x = SERIAL_LEFT
    for i, ch in enumerate(places):
        cell = [x * s + jit() * 0.5, SERIAL_TOP * s + jit() * 0.5, SERIAL_CELL_W * s, SERIAL_H * s]
        if ch == "・":
            box = _draw_dot(canvas, cell, s)
        else:
            box = _draw_cell_char(canvas, font, ch, cell, ref_serial, s)
        serial_boxes.append(box)
        chars.append({"char": ch, "box": box})
        x += SERIAL_CELL_W + SERIAL_GAP
        if i == 1:
            hcell = [x * s, SERIAL_TOP * s, HYPHEN_CELL_W * s, SERIAL_H * s]
            if "-" in printed:
                box = _draw_hyphen(canvas, hcell, s)
                chars.append({"char": "-", "box": box})
            x += HYPHEN_CELL_W + SERIAL_GAP

    class_box = _union(class_boxes)
    serial_box = _union(serial_boxes)
    line_boxes = {
        "region": region_box,
        "class_no": class_box,
        "kana": kana_box,
        "serial": serial_box,
        "upper": _union([region_box, class_box]),
        "lower": _union([kana_box, serial_box]),
    }
    return canvas, chars, line_boxes


# ---------------------------------------------------------------- plate picture


_size_cache = {}


def _cached(key, make):
    v = _size_cache.get(key)
    if v is None:
        v = make()
        _size_cache[key] = v
    return v


def _grid(h, w):
    return _cached(("grid", h, w), lambda: np.mgrid[0:h, 0:w].astype(np.float32))


def plate_mask(width, height):
    """Coverage of the rounded plate outline in a width x height picture (float32 0..1)."""
    return _cached(("mask", width, height), lambda: _plate_mask(width, height)).copy()


def _plate_mask(width, height):
    s = width / PLATE_MM[0]
    r = CORNER_RADIUS * s
    m = np.zeros((height * 4, width * 4), np.uint8)
    R = int(round(r * 4))
    W4, H4 = width * 4, height * 4
    cv2.rectangle(m, (R, 0), (W4 - 1 - R, H4 - 1), 255, -1)
    cv2.rectangle(m, (0, R), (W4 - 1, H4 - 1 - R), 255, -1)
    for cx, cy in ((R, R), (W4 - 1 - R, R), (R, H4 - 1 - R), (W4 - 1 - R, H4 - 1 - R)):
        cv2.circle(m, (cx, cy), R, 255, -1)
    return cv2.resize(m, (width, height), interpolation=cv2.INTER_AREA).astype(np.float32) / 255.0


def _gauss(rng, shape, sigma):
    """Gaussian noise, float32; OpenCV's generator (much faster than numpy's), seeded from rng."""
    cv2.setRNGSeed(int(rng.integers(0, 2 ** 31 - 1)))
    out = np.empty(shape, np.float32)
    cv2.randn(out, 0.0, float(sigma))
    return out


def _smooth_noise(rng, h, w, cells):
    """Low-frequency noise in -1..1 made by upscaling a coarse random grid."""
    gh, gw = max(2, int(cells * h / max(h, w)) + 1), max(2, int(cells * w / max(h, w)) + 1)
    g = rng.uniform(-1.0, 1.0, size=(gh, gw)).astype(np.float32)
    return cv2.resize(g, (w, h), interpolation=cv2.INTER_CUBIC)


def _border_mask(W, H, s):
    m = np.zeros((H * 4, W * 4), np.uint8)
    inset = BORDER_INSET * s * 4
    r = max(1.0, (CORNER_RADIUS - BORDER_INSET) * s * 4)
    t = max(1, int(round(BORDER_WIDTH * s * 4)))
    x0, y0, x1, y1 = inset, inset, W * 4 - 1 - inset, H * 4 - 1 - inset
    pts = []
    for (cx, cy, a0) in ((x1 - r, y0 + r, 270), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180)):
        for a in np.linspace(a0, a0 + 90, 10):
            pts.append((cx + r * np.cos(np.radians(a)), cy + r * np.sin(np.radians(a))))
    cv2.polylines(m, [np.round(np.array(pts)).astype(np.int32)], True, 255, t, lineType=cv2.LINE_AA)
    return cv2.resize(m, (W, H), interpolation=cv2.INTER_AREA)


# "classic": the layout and faces the committed samples were drawn with; "real": the layout measured on
# real plates (realplate.py) with the training faces; "real_held_out": the same with the held-out faces;
# "real_condensed" and "real_condensed_held_out": those two with glyphs narrower than their cells.
PLATE_STYLES = ("classic", "real", "real_held_out", "real_condensed", "real_condensed_held_out")


def render_plate(plate_plan, rng, width=640, style="classic"):
    """A clean frontal plate, width x width/2 BGR, and its layout.

    meta: "rows" (upper and lower row text as a reader transcribes them, no spaces),
    "line_boxes" ({region, class_no, kana, serial, upper, lower}: [x, y, w, h] in plate pixels),
    "char_boxes" (one {"char", "box"} per drawn glyph, the region word as one), "mask" (plate
    outline coverage, float32 HxW).
    """
    if style != "classic":
        if style not in PLATE_STYLES:
            raise ValueError("unknown plate style: " + str(style))
        from . import realplate
        return realplate.render_plate(plate_plan, rng, width, pool="held_out" if style.endswith("held_out") else "train",
                                      condensed=style.startswith("real_condensed"))
    W, H = int(width), int(width) // 2
    s = W / PLATE_MM[0]
    font_idx = int(rng.choice(len(fonts()), p=FONT_WEIGHTS))
    font = fonts()[font_idx]
    text, chars, line_boxes = _text_layout(plate_plan, rng, s, font)
    if text.shape != (H, W):
        text = cv2.resize(text, (W, H), interpolation=cv2.INTER_AREA)

    bg_rgb, fg_rgb = FAMILY_COLOURS[plate_plan["family"]]
    # paint varies a little from plate to plate, mostly in brightness
    bg = np.array(bg_rgb[::-1], np.float32) * rng.uniform(0.93, 1.04) + rng.normal(0, 2.5, 3).astype(np.float32)
    fg = np.array(fg_rgb[::-1], np.float32) * rng.uniform(0.9, 1.1) + rng.normal(0, 2.5, 3).astype(np.float32)

    ink = text.astype(np.float32) / 255.0
    border = _cached(("border", W, H), lambda: _border_mask(W, H, s).astype(np.float32) / 255.0)
    ink = np.maximum(ink, border)

    # surface: mild shading gradient and low-frequency tint
    yy, xx = _grid(H, W)
    ang = rng.uniform(0, 2 * np.pi)
    grad = ((xx / W - 0.5) * np.cos(ang) + (yy / H - 0.5) * np.sin(ang)) * rng.uniform(0.0, 0.16)
    shade = 1.0 + grad + 0.03 * _smooth_noise(rng, H, W, 6)
    img = bg[None, None, :] * (1.0 - ink[..., None]) + fg[None, None, :] * ink[..., None]

    # embossed characters and rim: light from above-left, so a highlight on one side, shadow on the other
    d = max(1, int(round(0.9 * s)))
    emb = ink - np.roll(np.roll(ink, d, axis=0), d, axis=1)
    img += (emb * rng.uniform(18, 40))[..., None]
    rim = plate_mask(W, H)
    edge = _cached(("edge", W, H), lambda: cv2.GaussianBlur(rim, (0, 0), max(1.0, 2.0 * s)) - rim)
    img += (edge * 70.0)[..., None]

    img *= shade[..., None]

    # bolts, one of them sometimes under the aluminium seal cap
    for i, (bx, by) in enumerate(BOLT_CENTRES):
        c = (int(round(bx * s * 16)), int(round(by * s * 16)))
        r = int(round(BOLT_RADIUS * s * 16))
        seal = i == 0 and rng.random() < 0.35
        base = np.array([170, 172, 176], np.float32) * rng.uniform(0.75, 1.05)
        if seal:
            cv2.circle(img, c, int(r * 1.35), (base * 1.05).tolist(), -1, lineType=cv2.LINE_AA, shift=4)
            cv2.circle(img, c, int(r * 1.35), (base * 0.6).tolist(), max(1, int(s * 1.2)), lineType=cv2.LINE_AA, shift=4)
        else:
            cv2.circle(img, c, r, (base * 0.85).tolist(), -1, lineType=cv2.LINE_AA, shift=4)
            cv2.circle(img, c, int(r * 0.6), (base * 1.1).tolist(), -1, lineType=cv2.LINE_AA, shift=4)
            if rng.random() < 0.7:
                a = rng.uniform(0, np.pi)
                dx, dy = np.cos(a) * r * 0.55, np.sin(a) * r * 0.55
                cv2.line(img, (int(c[0] - dx), int(c[1] - dy)), (int(c[0] + dx), int(c[1] + dy)),
                         (base * 0.45).tolist(), max(1, int(s * 1.3)), lineType=cv2.LINE_AA, shift=4)

    # dirt: dark low-frequency blotches and speckles, more at the bottom edge
    dirt_amount = rng.uniform(0.0, 0.22)
    blot = np.clip(_smooth_noise(rng, H, W, 10), 0, 1) * dirt_amount
    blot += np.clip(yy / H - 0.7, 0, 1) * rng.uniform(0, 0.35) * dirt_amount * 3
    specks = (rng.random((H, W), dtype=np.float32) < rng.uniform(0, 0.0015)).astype(np.float32)
    specks = cv2.GaussianBlur(specks, (0, 0), 0.8) * 3.0
    dirt_col = np.array([60, 70, 80], np.float32)
    a = np.clip(blot + specks * 0.5, 0, 0.6)[..., None]
    img = img * (1 - a) + dirt_col[None, None, :] * a

    mask = rim
    img = np.clip(img, 0, 255) * mask[..., None]
    img = img.astype(np.uint8)
    return img, plate_meta(plate_plan, line_boxes, chars, mask, os.path.basename(font[0]), W, H)


def plate_meta(plate_plan, line_boxes, chars, mask, font_name, W, H):
    """What a rendered plate carries besides its picture: the text rows, line and character boxes in plate
    pixels, the plate's mask, the face it was drawn with and its size."""
    rows = {
        "upper": plate_plan["region"] + plate_plan["class_no"],
        "lower": plate_plan["kana"] + plate_plan["serial_printed"].replace(" ", ""),
    }
    return {
        "rows": rows,
        "line_boxes": {k: [float(v) for v in b] for k, b in line_boxes.items()},
        "char_boxes": [{"char": c["char"], "box": [float(v) for v in c["box"]]} for c in chars],
        "mask": mask,
        "font": font_name,
        "size": [W, H],
    }


def motion_kernel(rng, k):
    """A k x k line at a random angle, summing to one: motion blur for cv2.filter2D."""
    kern = np.zeros((k, k), np.float32)
    kern[k // 2, :] = 1.0
    m = cv2.getRotationMatrix2D((k / 2 - 0.5, k / 2 - 0.5), rng.uniform(0, 180), 1.0)
    kern = cv2.warpAffine(kern, m, (k, k))
    kern /= max(1e-6, kern.sum())
    return kern


def boxes_on_rectified(line_boxes, plate_size, rect_size=RECT_SIZE):
    """Line boxes moved from plate pixels to the rectified plate (the whole plate warped to rect_size)."""
    fx = rect_size[0] / float(plate_size[0])
    fy = rect_size[1] / float(plate_size[1])
    return {k: [round(b[0] * fx, 2), round(b[1] * fy, 2), round(b[2] * fx, 2), round(b[3] * fy, 2)]
            for k, b in line_boxes.items()}


# ---------------------------------------------------------------- scenes

CAR_COLOURS = [(235, 235, 235), (30, 30, 32), (160, 162, 168), (120, 122, 126), (40, 40, 150), (150, 40, 30),
               (30, 60, 120), (200, 200, 205), (60, 90, 60), (20, 30, 60), (180, 150, 110), (90, 30, 30)]
SCENE_SIZES = [(640, 480), (800, 600), (960, 540), (720, 540), (640, 360)]
WIDE_SCENE_SIZES = [(960, 540), (800, 600), (960, 720)]


def _background(rng, w, h):
    """Random gradient, texture and shapes."""
    c0 = rng.uniform(20, 235, 3)
    c1 = rng.uniform(20, 235, 3)
    yy, xx = _grid(h, w)
    a = rng.uniform(0, 2 * np.pi)
    t = ((xx / w) * np.cos(a) + (yy / h) * np.sin(a))
    t = (t - t.min()) / max(1e-6, t.max() - t.min())
    img = c0[None, None, :] * (1 - t[..., None]) + c1[None, None, :] * t[..., None]
    img += (_smooth_noise(rng, h, w, rng.uniform(4, 30)) * rng.uniform(5, 30))[..., None]
    img += _gauss(rng, (h, w), rng.uniform(1, 8))[..., None]
    img = np.clip(img, 0, 255).astype(np.uint8)
    for _ in range(int(rng.integers(3, 14))):
        col = rng.uniform(0, 255, 3).tolist()
        kind = rng.integers(0, 4)
        p = (int(rng.integers(0, w)), int(rng.integers(0, h)))
        if kind == 0:
            q = (int(rng.integers(0, w)), int(rng.integers(0, h)))
            cv2.rectangle(img, p, q, col, -1 if rng.random() < 0.6 else int(rng.integers(1, 6)))
        elif kind == 1:
            cv2.circle(img, p, int(rng.integers(5, max(6, w // 5))), col, -1 if rng.random() < 0.6 else 3)
        elif kind == 2:
            q = (int(rng.integers(0, w)), int(rng.integers(0, h)))
            cv2.line(img, p, q, col, int(rng.integers(1, 8)), lineType=cv2.LINE_AA)
        else:
            pts = rng.integers(0, [w, h], size=(int(rng.integers(3, 7)), 2)).astype(np.int32)
            cv2.fillPoly(img, [pts], col)
    return img


def _rounded_poly(x0, y0, x1, y1, r, n=6):
    r = max(1.0, min(r, (x1 - x0) / 2.0, (y1 - y0) / 2.0))
    pts = []
    for cx, cy, a0 in ((x1 - r, y0 + r, 270), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180)):
        for a in np.linspace(a0, a0 + 90, n):
            pts.append((cx + r * np.cos(np.radians(a)), cy + r * np.sin(np.radians(a))))
    return np.round(np.array(pts) * 16).astype(np.int32)


def _fill(img, poly, colour):
    cv2.fillPoly(img, [poly], colour, cv2.LINE_AA, 4)


def _draw_car(rng, img, plate_quad):
    """The front or back of a car around the plate: ground, tyres, body with shading, glass, lamps, bumper."""
    h, w = img.shape[:2]
    cx, cy = plate_quad.mean(axis=0)
    pw = float(np.linalg.norm(plate_quad[1] - plate_quad[0]))
    ph = pw / 2.0
    col = np.clip(np.array(CAR_COLOURS[int(rng.integers(0, len(CAR_COLOURS)))], np.float32)
                  + rng.normal(0, 8, 3), 0, 255)
    half = pw * rng.uniform(2.3, 2.9)
    cx_car = cx + rng.normal(0, pw * 0.15)
    bottom = cy + ph * rng.uniform(1.3, 2.0)
    top = cy - ph * rng.uniform(2.6, 4.0)
    rear = rng.random() < 0.5

    ground_y = int(bottom + ph * 0.4)
    g = np.clip(rng.uniform(40, 110) + rng.normal(0, 6, 3), 0, 255)
    cv2.rectangle(img, (0, ground_y), (w, h), g.tolist(), -1)
    # the shade under the car between the tyres
    cv2.rectangle(img, (int(cx_car - half * 0.95), int(bottom - ph * 0.2)), (int(cx_car + half * 0.95), ground_y),
                  (g * 0.3).tolist(), -1)
    for sgn in (-1, 1):
        tx = cx_car + sgn * half * 0.78
        cv2.rectangle(img, (int(tx - pw * 0.4), int(bottom - ph)), (int(tx + pw * 0.4), int(bottom + ph * 0.45)),
                      (18, 18, 20), -1)

    # body with a vertical light falloff
    bx0, bx1 = int(max(0, cx_car - half - 2)), int(min(w, cx_car + half + 2))
    by0, by1 = int(max(0, top - 2)), int(min(h, bottom + 2))
    if bx1 > bx0 and by1 > by0:
        body = np.zeros((by1 - by0, bx1 - bx0), np.uint8)
        _fill(body, _rounded_poly(cx_car - half - bx0, top - by0, cx_car + half - bx0, bottom - by0, pw * 0.5), 255)
        yy = np.arange(by0, by1, dtype=np.float32)[:, None]
        t = np.clip((yy - top) / max(1e-3, bottom - top), 0, 1)
        shade = (1.12 - 0.35 * t)[:, :, None]
        car = np.clip(col[None, None, :] * shade, 0, 255)
        m = (body.astype(np.float32) / 255.0)[..., None]
        sub = img[by0:by1, bx0:bx1]
        img[by0:by1, bx0:bx1] = (sub * (1 - m) + car * m).astype(np.uint8)

    # glass above the body line
    glass_top = top - ph * rng.uniform(1.5, 3.0)
    glass = np.clip(rng.uniform(25, 70) + rng.normal(0, 5, 3), 0, 255)
    gpoly = np.array([[cx_car - half * 0.72, top + ph * 0.1], [cx_car + half * 0.72, top + ph * 0.1],
                      [cx_car + half * 0.55, glass_top], [cx_car - half * 0.55, glass_top]])
    roof = np.array([[cx_car - half * 0.8, top + ph * 0.3], [cx_car + half * 0.8, top + ph * 0.3],
                     [cx_car + half * 0.6, glass_top - ph * 0.4], [cx_car - half * 0.6, glass_top - ph * 0.4]])
    _fill(img, np.round(roof * 16).astype(np.int32), (col * 0.9).tolist())
    _fill(img, np.round(gpoly * 16).astype(np.int32), glass.tolist())
    refl = np.array([[cx_car - half * 0.3, top], [cx_car - half * 0.1, top],
                     [cx_car + half * 0.1, glass_top], [cx_car - half * 0.1, glass_top]])
    _fill(img, np.round(refl * 16).astype(np.int32), np.clip(glass + 35, 0, 255).tolist())

    # lamps at the upper corners of the body
    if rear:
        lamp = np.array([30, 30, rng.uniform(150, 220)])
    else:
        lamp = np.array([rng.uniform(190, 240)] * 3)
    ly = top + ph * rng.uniform(0.5, 1.0)
    for sgn in (-1, 1):
        lx0 = cx_car + sgn * half * 0.93
        lx1 = cx_car + sgn * half * rng.uniform(0.55, 0.7)
        x0, x1 = min(lx0, lx1), max(lx0, lx1)
        _fill(img, _rounded_poly(x0, ly, x1, ly + ph * rng.uniform(0.5, 0.9), ph * 0.2), lamp.tolist())
    if not rear:
        gy0 = cy - ph * rng.uniform(1.3, 1.8)
        _fill(img, _rounded_poly(cx_car - half * 0.45, gy0, cx_car + half * 0.45, cy - ph * 0.75, ph * 0.2),
              np.clip(col * 0.25 + 10, 0, 255).tolist())
        for k in range(1, 4):
            yk = gy0 + (cy - ph * 0.75 - gy0) * k / 4.0
            cv2.line(img, (int(cx_car - half * 0.42), int(yk)), (int(cx_car + half * 0.42), int(yk)),
                     np.clip(col * 0.5 + 30, 0, 255).tolist(), max(1, int(ph * 0.04)))

    # bumper and the recess the plate sits in
    by0 = cy + ph * rng.uniform(0.55, 0.75)
    bcol = (np.clip(col * rng.uniform(0.5, 0.95), 0, 255) if rng.random() < 0.6 else np.array([35, 35, 38]))
    _fill(img, _rounded_poly(cx_car - half * 1.01, by0, cx_car + half * 1.01, bottom + ph * 0.1, ph * 0.3),
          bcol.tolist())
    if rng.random() < 0.6:
        _fill(img, _rounded_poly(cx - pw * 0.62, cy - ph * 0.7, cx + pw * 0.62, cy + ph * 0.7, ph * 0.15),
              np.clip(col * 0.7, 0, 255).tolist())
    return img


def new_scene(rng, plate_size, size=None):
    """Scene layout for one vehicle: background with car, plate quad (tl, tr, br, bl) and lighting."""
    wide = rng.random() < 0.35  # the whole car in view, a smaller plate
    if size is not None:
        w, h = size
    elif wide:
        w, h = WIDE_SCENE_SIZES[int(rng.integers(0, len(WIDE_SCENE_SIZES)))]
    else:
        w, h = SCENE_SIZES[int(rng.integers(0, len(SCENE_SIZES)))]
    pw = w * (rng.uniform(0.11, 0.18) if wide else rng.uniform(0.18, 0.45))
    ph = pw * plate_size[1] / float(plate_size[0])
    if wide:
        cx = rng.uniform(w * 0.3, w * 0.7)
        cy = rng.uniform(h * 0.6, h - ph * 2.5)
    else:
        cx = rng.uniform(pw * 0.65, w - pw * 0.65)
        cy = rng.uniform(max(ph * 0.9, h * 0.3), h - ph * 0.9)
    base = np.array([[-pw / 2, -ph / 2], [pw / 2, -ph / 2], [pw / 2, ph / 2], [-pw / 2, ph / 2]], np.float32)
    # yaw narrows one side, pitch narrows top or bottom, roll rotates
    yaw = rng.uniform(-0.18, 0.18)
    pitch = rng.uniform(-0.12, 0.12)
    quad = base.copy()
    quad[:, 1] *= 1.0 + yaw * np.sign(quad[:, 0])
    quad[:, 0] *= 1.0 + pitch * np.sign(quad[:, 1])
    quad[:, 0] *= 1.0 - abs(yaw) * 0.6
    roll = np.radians(rng.normal(0, 3.5))
    rot = np.array([[np.cos(roll), -np.sin(roll)], [np.sin(roll), np.cos(roll)]], np.float32)
    quad = quad @ rot.T
    quad += rng.normal(0, pw * 0.012, quad.shape).astype(np.float32)
    quad += np.array([cx, cy], np.float32)
    bg = _background(rng, w, h)
    if wide or rng.random() < 0.8:
        bg = _draw_car(rng, bg, quad)
    return {
        "background": bg,
        "quad": quad.astype(np.float32),
        "holder": rng.random() < 0.5,
        "holder_colour": (rng.uniform(10, 60, 3) if rng.random() < 0.7 else rng.uniform(150, 220, 3)).tolist(),
        "light_angle": rng.uniform(0, 2 * np.pi),
        "light_strength": rng.uniform(0.0, 0.5),
        "brightness": rng.uniform(0.65, 1.25),
        "shadow": rng.random() < 0.35,
        "shadow_angle": rng.uniform(0, 2 * np.pi),
        "shadow_offset": rng.uniform(-0.4, 0.4),
        "shadow_softness": rng.uniform(1, 6),
        "shadow_depth": rng.uniform(0.3, 0.6),
    }


def _jittered_quad(rng, scene, amount):
    q = scene["quad"].copy()
    pw = np.linalg.norm(q[1] - q[0])
    if amount > 0:
        c = q.mean(axis=0)
        scale = 1.0 + rng.normal(0, 0.04 * amount)
        q = (q - c) * scale + c + rng.normal(0, pw * 0.04 * amount, 2)
        q += rng.normal(0, pw * 0.008 * amount, q.shape)
    h, w = scene["background"].shape[:2]
    # keep the whole plate inside the picture
    lo = q.min(axis=0)
    hi = q.max(axis=0)
    shift = np.maximum(0, 2 - lo) - np.maximum(0, hi - (np.array([w, h]) - 3))
    return (q + shift).astype(np.float32)


def _degrade(rng, img, strength=1.0):
    """Blur, noise and JPEG, each drawn independently."""
    r = rng.random()
    if r < 0.35 * strength:
        img = cv2.GaussianBlur(img, (0, 0), rng.uniform(0.4, 1.6))
    elif r < 0.55 * strength:
        img = cv2.filter2D(img, -1, motion_kernel(rng, int(rng.integers(3, 10))))
    sigma = rng.uniform(0, 9) * strength
    if sigma > 0.5:
        noise = _gauss(rng, img.shape, sigma)
        img = np.clip(img.astype(np.float32) + noise, 0, 255).astype(np.uint8)
    q = int(rng.integers(30, 96))
    ok, buf = cv2.imencode(".jpg", img, [cv2.IMWRITE_JPEG_QUALITY, q])
    return cv2.imdecode(buf, cv2.IMREAD_COLOR)


def render_scene(plate_img, rng, scene=None, jitter=0.0, plate_mask_img=None, degrade=1.0, camera=None):
    """Put plate_img into a larger picture under a perspective transform.

    scene: a layout from new_scene (one per vehicle); drawn fresh when None. jitter: how much
    this frame moves against the layout (0 = exactly as laid out, 1 = a typical frame-to-frame
    change). camera: a function (rng, picture) -> picture that replaces the blur, noise and JPEG
    step. Returns (scene_bgr, corners) with corners a 4x2 float32 array tl, tr, br, bl in
    scene pixels: the corners of the plate rectangle (its rounded corners lie inside).
    """
    ph, pw = plate_img.shape[:2]
    if scene is None:
        scene = new_scene(rng, (pw, ph))
    mask = plate_mask_img if plate_mask_img is not None else plate_mask(pw, ph)
    quad = _jittered_quad(rng, scene, jitter)
    img = scene["background"].astype(np.float32)
    h, w = img.shape[:2]
    src = np.array([[0, 0], [pw, 0], [pw, ph], [0, ph]], np.float32)
    M = cv2.getPerspectiveTransform(src, quad)

    if scene["holder"]:
        c = quad.mean(axis=0)
        big = (quad - c) * 1.07 + c
        cv2.fillConvexPoly(img, np.round(big * 16).astype(np.int32), scene["holder_colour"], cv2.LINE_AA, 4)
    else:
        # contact shadow under the plate edge
        sh = np.zeros((h, w), np.float32)
        cv2.fillConvexPoly(sh, np.round((quad + [2, 3]) * 16).astype(np.int32), 1.0, cv2.LINE_AA, 4)
        sh = cv2.GaussianBlur(sh, (0, 0), 3)
        img *= (1 - 0.45 * sh)[..., None]

    warped = cv2.warpPerspective(plate_img, M, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)
    wmask = cv2.warpPerspective(mask, M, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)
    img = img * (1 - wmask[..., None]) + warped.astype(np.float32)

    # lighting: overall level, a gradient across the picture, and sometimes a hard shadow across the plate
    yy, xx = _grid(h, w)
    a = scene["light_angle"] + rng.normal(0, 0.1 * jitter)
    g = ((xx / w - 0.5) * np.cos(a) + (yy / h - 0.5) * np.sin(a))
    light = scene["brightness"] * (1 + rng.normal(0, 0.05 * jitter)) * (1 + scene["light_strength"] * g)
    if scene["shadow"]:
        c = quad.mean(axis=0)
        pwid = np.linalg.norm(quad[1] - quad[0])
        ang = scene["shadow_angle"] + rng.normal(0, 0.05 * jitter)
        n = np.array([np.cos(ang), np.sin(ang)])
        off = (scene["shadow_offset"] + rng.normal(0, 0.05 * jitter)) * pwid
        side = (xx - c[0]) * n[0] + (yy - c[1]) * n[1] - off
        edge = cv2.GaussianBlur((side > 0).astype(np.float32), (0, 0), scene["shadow_softness"])
        light *= 1 - edge * scene["shadow_depth"]
    img *= light[..., None]
    img = np.clip(img, 0, 255).astype(np.uint8)
    gamma = rng.uniform(0.85, 1.2)
    img = cv2.LUT(img, (255.0 * (np.arange(256) / 255.0) ** gamma).astype(np.uint8))
    img = _degrade(rng, img, degrade) if camera is None else camera(rng, img)
    return img, quad.copy()


def make_roi(scene, corners, rng, margin=(0.04, 0.3)):
    """Cut the plate out as a detector would: the box around the corners grown by a random margin.

    margin: (low, high) fraction of the box's width and height added on each side, drawn per side.
    Returns (roi_bgr, corners_roi) with the corners moved into ROI pixels.
    """
    h, w = scene.shape[:2]
    x0, y0 = corners.min(axis=0)
    x1, y1 = corners.max(axis=0)
    bw, bh = x1 - x0, y1 - y0
    m = rng.uniform(margin[0], margin[1], 4)
    rx0 = int(max(0, np.floor(x0 - m[0] * bw)))
    ry0 = int(max(0, np.floor(y0 - m[1] * bh)))
    rx1 = int(min(w, np.ceil(x1 + m[2] * bw)))
    ry1 = int(min(h, np.ceil(y1 + m[3] * bh)))
    roi = scene[ry0:ry1, rx0:rx1].copy()
    return roi, (corners - np.array([rx0, ry0], np.float32)).astype(np.float32)


def rectify(img, corners, size=RECT_SIZE):
    """Warp the plate given by corners (tl, tr, br, bl) to size, as the reader does before its OCR."""
    w, h = size
    dst = np.array([[0, 0], [w - 1, 0], [w - 1, h - 1], [0, h - 1]], np.float32)
    M = cv2.getPerspectiveTransform(np.asarray(corners, np.float32), dst)
    return cv2.warpPerspective(img, M, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)
