"""Plates drawn in the layout measured on photographs of real medium plates.

Positions are fractions of the plate's width (x) and height (y), the averages of rectified real
plates; every plate moves and resizes them a little, as real ones differ by a few hundredths.
Digits come from one face and the kanji and kana from another (often the same), each with its own
stroke-weight change, and are stretched into the plate's narrow cells.
"""

import cv2
import numpy as np

from . import fontset, plategen

# Averages over real plates: (x from, x to) and (y from, y to).
# the region's cells are a little wider than its kanji (each about 0.12 of the width)
UPPER_ROW_MID = 0.515
REGION_GAP_TO_CLASS = 0.03
UPPER_Y = (0.10, 0.33)
CLASS_Y = (0.09, 0.34)
CLASS_DIGIT_W, CLASS_PITCH = 0.07, 0.08
KANA_BOX = (0.05, 0.16, 0.56, 0.82)  # the glyph's whole box; its ink core is 0.08-0.13 x 0.59-0.79
SERIAL_X = (0.23, 0.39, 0.66, 0.82)
SERIAL_DIGIT_W = 0.115
SERIAL_START = (0.215, 0.245)
SERIAL_Y = (0.44, 0.91)
HYPHEN_X, HYPHEN_Y = (0.54, 0.58), 0.68
# the hyphen sits left of the middle between the second and third places
HYPHEN_OFFSET = sum(HYPHEN_X) / 2.0 - (SERIAL_X[1] + SERIAL_X[2] + SERIAL_DIGIT_W) / 2.0
BOLT_X, BOLT_Y = (0.18, 0.82), 0.15

# ink height of a full-height kanji in the glyph drawing
EM_INK = fontset.GLYPH_PX * 0.9
# and of a hiragana, whose ink stays inside a smaller part of the em box
EM_KANA = fontset.GLYPH_PX * 0.78

# Region names grow narrower per character as they get longer; the row keeps about its width.
REGION_CHAR_W_BY_LEN = {1: 0.135, 2: 0.135, 3: 0.09, 4: 0.068, 5: 0.055}

FRAME_KINDS = ("none", "chrome", "black", "body")
FRAME_WEIGHTS = (0.45, 0.25, 0.22, 0.08)


def random_style(rng, pool="train", condensed=False):
    """Everything about a plate's look that its text does not fix. condensed: the faces of other plate
    renderers and signwriters, whose glyphs are narrower than their cells (and cells closer), so that no
    model learns one width of digit or kanji."""
    fams = fontset.families(pool)
    if not fams:
        if pool == "held_out":
            # the fallback face is a training face: a set drawn in it would not be held out
            raise RuntimeError("no held-out face installed (tools/train/setup.sh installs them)")
        fams = [("fallback", "gothic", [fontset.fallback_face()])]
    main = fams[int(rng.integers(0, len(fams)))]
    face = main[2][int(rng.integers(0, len(main[2])))]
    digit_face = face
    if rng.random() < 0.4:
        other = fams[int(rng.integers(0, len(fams)))]
        digit_face = other[2][int(rng.integers(0, len(other[2])))]
    weight = int(rng.integers(-2, 4))
    if any(w in face[0] for w in ("Black", "ExtraBold")):
        weight = min(weight, -1)
    elif any(w in face[0] for w in ("Bold", "bold")):
        weight = min(weight, 1)
    style = {
        "face": face,
        "family": main[0],
        "digit_face": digit_face,
        # strokes: pixels of the 160 px glyph drawing added (thicker) or taken (thinner)
        # kanji with many strokes close up when thickened much, above all in a heavy face
        "weight": weight,
        "digit_weight": int(rng.integers(-1, 8)),
        "dx": float(rng.normal(0, 0.006)),
        "dy": float(rng.normal(0, 0.008)),
        "upper_scale": float(rng.uniform(0.92, 1.06)),
        "upper_dy": float(rng.normal(0, 0.01)),
        "region_w": float(rng.uniform(0.93, 1.05)),
        "region_stretch": float(rng.uniform(1.0, 1.1)),
        "class_w": float(rng.uniform(0.88, 1.08)),
        "serial_w": float(rng.uniform(0.86, 1.06)),
        "serial_h": float(rng.uniform(0.94, 1.03)),
        "serial_x0": float(rng.normal(0.0, 0.006)),
        "serial_pitch": float(rng.uniform(0.97, 1.02)),
        "kana_scale": float(rng.uniform(0.88, 1.05)),
        "dot_r": float(rng.uniform(0.013, 0.018)),
        "hyphen_w": float(rng.uniform(0.032, 0.046)),
        "hyphen_h": float(rng.uniform(0.035, 0.05)),
        "frame": str(rng.choice(FRAME_KINDS, p=FRAME_WEIGHTS)),
        "class_glyph": 1.0,
        "serial_glyph": 1.0,
    }
    if condensed:
        # drawn after the rest, so that a plate's other draws stay those of the plain style
        style["class_w"] *= float(rng.uniform(0.78, 1.0))
        style["class_glyph"] = float(rng.uniform(0.5, 0.95))
        style["serial_glyph"] = float(rng.uniform(0.55, 1.0))
        style["region_w"] *= float(rng.uniform(0.8, 1.0))
        style["region_stretch"] = float(rng.uniform(0.75, 1.0))
    return style


def _face_for(face, ch):
    return face if fontset.has_glyph(face, ch) else fontset.fallback_face()


def _cell_glyph(canvas, face, weight, ch, cell, squeeze):
    """ch filling the cell's height, its width in proportion to the face's '0' squeezed to the cell."""
    x, y, w, h = cell
    g = fontset.glyph(_face_for(face, ch), ch, weight)
    # wide letters (M, W) may spill a little over their place
    gw = min(w * 1.08, g.shape[1] / float(g.shape[0]) * h * squeeze)
    gx = x + (w - gw) / 2.0
    plategen._paste_max(canvas, g, gx, y, gw, h)
    return [gx, y, gw, h]


def _dot(canvas, cell, r):
    x, y, w, h = cell
    cx, cy = x + w / 2.0, y + h / 2.0
    cv2.circle(canvas, (int(round(cx * 16)), int(round(cy * 16))), int(round(r * 16)), 255, -1,
               lineType=cv2.LINE_AA, shift=4)
    return [cx - r, cy - r, 2 * r, 2 * r]


def text_layout(plate_plan, style, W, H):
    """All characters in one mask (H x W uint8), the box of each drawn glyph and the line boxes."""
    canvas = np.zeros((H, W), np.uint8)
    chars = []
    X = lambda f: (f + style["dx"]) * W
    Y = lambda f: (f + style["dy"]) * H
    face, digit_face = style["face"], style["digit_face"]

    zero = fontset.glyph(_face_for(digit_face, "0"), "0", style["digit_weight"])
    zero_aspect = zero.shape[1] / float(zero.shape[0])

    # upper row: region name then class number, centred on the row as one group
    region, class_no = plate_plan["region"], plate_plan["class_no"]
    sc = style["upper_scale"]
    n = len(region)
    char_w = REGION_CHAR_W_BY_LEN.get(n, 0.3 / max(1, n)) * style["region_w"] * sc
    region_w = char_w * n
    class_pitch = CLASS_PITCH * style["class_w"] * sc
    class_digit_w = CLASS_DIGIT_W * style["class_w"] * sc
    class_w = class_pitch * (len(class_no) - 1) + class_digit_w
    gap = REGION_GAP_TO_CLASS * sc
    left = UPPER_ROW_MID - (region_w + gap + class_w) / 2.0
    uy0, uy1 = UPPER_Y
    um = (uy0 + uy1) / 2.0 + style["upper_dy"]
    uh = (uy1 - uy0) * sc
    region_boxes = []
    cell_w, cell_h = char_w * W, uh * H
    # plate kanji are drawn a little wider than they are tall where the cell allows it
    squeeze = min(style["region_stretch"], cell_w * 0.96 / cell_h)
    for i, ch in enumerate(region):
        g = fontset.glyph(_face_for(face, ch), ch, style["weight"])
        # sized by the em box, so that short kanji (一) and small kana stay small
        k = cell_h / EM_INK
        gw, gh = g.shape[1] * k * squeeze, min(cell_h, g.shape[0] * k)
        gx = X(left + char_w * i) + (cell_w - gw) / 2.0
        gy = Y(um) - gh / 2.0
        plategen._paste_max(canvas, g, gx, gy, gw, gh)
        region_boxes.append([gx, gy, gw, gh])
    region_box = plategen._union(region_boxes)
    chars.append({"char": region, "box": region_box})

    cy0 = um - (CLASS_Y[1] - CLASS_Y[0]) * sc / 2.0
    ch_h = (CLASS_Y[1] - CLASS_Y[0]) * sc * H
    squeeze_class = class_digit_w * W / (zero_aspect * ch_h) * style["class_glyph"]
    class_boxes = []
    x = left + region_w + gap
    for ch in class_no:
        cell = [X(x), Y(cy0), class_digit_w * W, ch_h]
        box = _cell_glyph(canvas, digit_face, style["digit_weight"], ch, cell, squeeze_class)
        class_boxes.append(box)
        chars.append({"char": ch, "box": box})
        x += class_pitch

    # lower row: kana at the left, then four serial places
    kana = plate_plan["kana"]
    kx0, kx1, ky0, ky1 = KANA_BOX
    g = fontset.glyph(_face_for(face, kana), kana, style["weight"])
    kw, kh = (kx1 - kx0) * W, (ky1 - ky0) * H
    k = min(kw, kh) / EM_KANA * style["kana_scale"]
    gw, gh = min(kw, g.shape[1] * k), min(kh, g.shape[0] * k)
    kana_box = [X(kx0) + (kw - gw) / 2.0, Y(ky0) + (kh - gh) / 2.0, gw, gh]
    plategen._paste_max(canvas, g, *kana_box)
    chars.append({"char": kana, "box": kana_box})

    printed = plate_plan["serial_printed"]
    places = printed.replace("-", "").replace(" ", "")
    sw = SERIAL_DIGIT_W * style["serial_w"]
    sy_mid = (SERIAL_Y[0] + SERIAL_Y[1]) / 2.0
    sh = (SERIAL_Y[1] - SERIAL_Y[0]) * style["serial_h"]
    squeeze_serial = sw * W / (zero_aspect * sh * H) * style["serial_glyph"]
    # real serials start between 0.21 and 0.25 of the width whatever else moves
    left0 = min(SERIAL_START[1], max(SERIAL_START[0], SERIAL_X[0] + style["serial_x0"] + style["dx"]))
    lefts = [left0 + (x - SERIAL_X[0]) * style["serial_pitch"] for x in SERIAL_X]
    centres = [x + sw / 2.0 for x in lefts]
    serial_boxes = []
    for i, ch in enumerate(places):
        cell = [lefts[i] * W, Y(sy_mid - sh / 2.0), sw * W, sh * H]
        if ch == "・":
            box = _dot(canvas, cell, style["dot_r"] * W)
        else:
            box = _cell_glyph(canvas, digit_face, style["digit_weight"], ch, cell, squeeze_serial)
        serial_boxes.append(box)
        chars.append({"char": ch, "box": box})
        if i == 1 and "-" in printed:
            hx = (centres[1] + centres[2]) / 2.0 + HYPHEN_OFFSET
            bw, bh = style["hyphen_w"] * W, style["hyphen_h"] * H
            x0, y0 = hx * W - bw / 2.0, Y(HYPHEN_Y) - bh / 2.0
            cv2.rectangle(canvas, (int(round(x0 * 4)), int(round(y0 * 4))),
                          (int(round((x0 + bw) * 4)), int(round((y0 + bh) * 4))), 255, -1,
                          lineType=cv2.LINE_AA, shift=2)
            chars.append({"char": "-", "box": [x0, y0, bw, bh]})

    class_box = plategen._union(class_boxes)
    serial_box = plategen._union(serial_boxes)
    line_boxes = {
        "region": region_box,
        "class_no": class_box,
        "kana": kana_box,
        "serial": serial_box,
        "upper": plategen._union([region_box, class_box]),
        "lower": plategen._union([kana_box, serial_box]),
    }
    return canvas, chars, line_boxes


def _relief(height, light, strength):
    """Shading of a height map lit from direction light (unit x, y): highlights facing it, shadows away."""
    gx = cv2.Sobel(height, cv2.CV_32F, 1, 0, ksize=3)
    gy = cv2.Sobel(height, cv2.CV_32F, 0, 1, ksize=3)
    return -(gx * light[0] + gy * light[1]) * strength


def _rim_ridge(W, H, s):
    """Height map of the raised rim that runs round the plate a few millimetres inside its edge."""
    m = np.zeros((H, W), np.float32)
    inset = 5.0 * s
    r = max(1.0, 8.0 * s)
    poly = plategen._rounded_poly(inset, inset, W - 1 - inset, H - 1 - inset, r, n=10)
    cv2.polylines(m, [poly], True, 1.0, max(1, int(round(2.2 * s))), lineType=cv2.LINE_AA, shift=4)
    return cv2.GaussianBlur(m, (0, 0), max(0.6, 0.8 * s))


def _bolt(img, rng, c, r, s, seal):
    """A bolt head (round, with a slot or a cross, or under a plastic cap) or the aluminium seal cap."""
    cx, cy = c
    p = lambda v: int(round(v * 16))
    shadow = (img[max(0, int(cy - r)):int(cy + r) + 1, max(0, int(cx - r)):int(cx + r) + 1].mean(axis=(0, 1))
              if r > 1 else np.zeros(3)) * 0.45
    cv2.circle(img, (p(cx + r * 0.12), p(cy + r * 0.15)), p(r * 1.08), shadow.tolist(), -1, cv2.LINE_AA, 4)
    if seal:
        base = np.array([190, 192, 196], np.float32) * rng.uniform(0.8, 1.05)
        rr = r * 1.3
        cv2.circle(img, (p(cx), p(cy)), p(rr), base.tolist(), -1, cv2.LINE_AA, 4)
        cv2.circle(img, (p(cx), p(cy)), p(rr * 0.72), (base * 0.82).tolist(), max(1, int(s * 0.8)), cv2.LINE_AA, 4)
        cv2.circle(img, (p(cx - rr * 0.3), p(cy - rr * 0.3)), p(rr * 0.25), (base * 1.12).tolist(), -1,
                   cv2.LINE_AA, 4)
        return
    kind = int(rng.integers(0, 4))
    if kind == 3:
        cap = rng.choice([(30, 30, 32), (225, 225, 228), (170, 172, 176), (40, 60, 150)])
        cap = np.array(cap, np.float32) * rng.uniform(0.85, 1.05)
        cv2.circle(img, (p(cx), p(cy)), p(r * 1.1), cap.tolist(), -1, cv2.LINE_AA, 4)
        cv2.circle(img, (p(cx - r * 0.35), p(cy - r * 0.35)), p(r * 0.3), np.clip(cap + 45, 0, 255).tolist(), -1,
                   cv2.LINE_AA, 4)
        return
    base = np.array([165, 168, 172], np.float32) * rng.uniform(0.7, 1.1)
    cv2.circle(img, (p(cx), p(cy)), p(r), (base * 0.8).tolist(), -1, cv2.LINE_AA, 4)
    cv2.circle(img, (p(cx - r * 0.1), p(cy - r * 0.1)), p(r * 0.78), (base * 1.08).tolist(), -1, cv2.LINE_AA, 4)
    a = rng.uniform(0, np.pi)
    th = max(1, int(round(s * 1.4)))
    for k in range(1 if kind == 1 else 2):
        dx, dy = np.cos(a + k * np.pi / 2) * r * 0.6, np.sin(a + k * np.pi / 2) * r * 0.6
        cv2.line(img, (p(cx - dx), p(cy - dy)), (p(cx + dx), p(cy + dy)), (base * 0.35).tolist(), th,
                 cv2.LINE_AA, 4)


def _frame(img, rng, kind, W, H, s):
    """The inner lip of a plate frame, covering the plate's outer edge; wider at the bottom."""
    if kind == "none":
        return img
    top = rng.uniform(1.5, 5.0) * s
    side = rng.uniform(1.5, 4.5) * s
    bottom = rng.uniform(2.5, 10.0) * s
    cover = np.ones((H, W), np.float32)
    r = max(1.0, rng.uniform(6.0, 14.0) * s)
    hole = np.zeros((H * 4, W * 4), np.uint8)
    poly = plategen._rounded_poly(side * 4, top * 4, (W - side) * 4, (H - bottom) * 4, r * 4, n=10)
    cv2.fillPoly(hole, [poly], 255, cv2.LINE_AA, 4)
    hole = cv2.resize(hole, (W, H), interpolation=cv2.INTER_AREA).astype(np.float32) / 255.0
    cover -= hole
    yy, xx = plategen._grid(H, W)
    if kind == "chrome":
        # a bright band and a dark band across the frame, as chrome mirrors sky and ground
        t = yy / H
        band = 0.5 + 0.5 * np.sin(t * rng.uniform(8, 18) + rng.uniform(0, 6.28))
        lum = 70 + 170 * band + rng.normal(0, 6)
        colour = np.stack([lum * 1.02, lum, lum * 0.97], -1)
    else:
        base = rng.uniform(15, 45) if kind == "black" else rng.uniform(40, 220)
        tint = rng.normal(0, 6, 3) if kind == "black" else rng.normal(0, 30, 3)
        colour = np.broadcast_to(np.clip(base + tint, 0, 255).astype(np.float32), (H, W, 3)).copy()
        colour += (1.0 - yy / H)[..., None] * 18.0
    # the frame casts a thin shadow on the plate inside it
    shade = cv2.GaussianBlur(cover, (0, 0), max(0.8, 1.2 * s))
    img = img * (1.0 - 0.35 * np.clip(shade - cover, 0, 1))[..., None]
    return img * (1.0 - cover[..., None]) + colour * cover[..., None]


def _dirt(img, rng, W, H, s):
    yy, xx = plategen._grid(H, W)
    amount = rng.uniform(0.0, 0.28) ** 1.3
    blot = np.clip(plategen._smooth_noise(rng, H, W, rng.uniform(5, 16)), 0, 1) * amount
    # road grime settles along the bottom edge and runs down from the bolts
    blot += np.clip(yy / H - rng.uniform(0.6, 0.85), 0, 1) * rng.uniform(0, 1.2) * amount
    if rng.random() < 0.3:
        for bx in BOLT_X:
            x = bx * W + rng.normal(0, 2 * s)
            streak = np.exp(-((xx - x) / (rng.uniform(1.5, 4) * s)) ** 2) * (yy > BOLT_Y * H)
            blot += streak * rng.uniform(0.05, 0.25) * np.exp(-(yy / H - BOLT_Y) * rng.uniform(1, 4))
    specks = (rng.random((H, W), dtype=np.float32) < rng.uniform(0, 0.0008)).astype(np.float32)
    blot += cv2.GaussianBlur(specks, (0, 0), max(0.5, 0.6 * s)) * 2.0
    if rng.random() < 0.2:
        # scratches
        for _ in range(int(rng.integers(1, 5))):
            p0 = (int(rng.uniform(0, W)), int(rng.uniform(0, H)))
            p1 = (int(p0[0] + rng.normal(0, W * 0.15)), int(p0[1] + rng.normal(0, H * 0.1)))
            cv2.line(img, p0, p1, rng.uniform(150, 240, 3).tolist(), 1, cv2.LINE_AA)
    colour = np.array([50, 62, 72], np.float32) * rng.uniform(0.7, 1.3)
    a = np.clip(blot, 0, 0.65)[..., None]
    return img * (1 - a) + colour[None, None, :] * a


def render_plate(plate_plan, rng, width=640, pool="train", condensed=False):
    """A clean frontal plate in the measured real layout; the same picture and meta as
    plategen.render_plate, plus meta["style"] (faces and frame)."""
    W, H = int(width), int(width) // 2
    s = W / plategen.PLATE_MM[0]
    style = random_style(rng, pool, condensed)
    text, chars, line_boxes = text_layout(plate_plan, style, W, H)

    bg_rgb, fg_rgb = plategen.FAMILY_COLOURS[plate_plan["family"]]
    bg = np.array(bg_rgb[::-1], np.float32) * rng.uniform(0.88, 1.05) + rng.normal(0, 4, 3).astype(np.float32)
    fg = np.array(fg_rgb[::-1], np.float32) * rng.uniform(0.85, 1.12) + rng.normal(0, 4, 3).astype(np.float32)
    ink = text.astype(np.float32) / 255.0
    if rng.random() < 0.3:
        # some plates have the rim painted in the character colour
        line = plategen._cached(("border", W, H), lambda: plategen._border_mask(W, H, s).astype(np.float32) / 255.0)
        ink = np.maximum(ink, line * rng.uniform(0.6, 1.0))
    img = bg[None, None, :] * (1.0 - ink[..., None]) + fg[None, None, :] * ink[..., None]

    # pressed characters and rim, lit from one side
    ang = rng.uniform(0, 2 * np.pi)
    light = (np.cos(ang), np.sin(ang))
    height = cv2.GaussianBlur(ink, (0, 0), max(0.6, rng.uniform(0.5, 1.1) * s))
    height += plategen._cached(("ridge", W, H), lambda: _rim_ridge(W, H, s))
    img += _relief(height, light, rng.uniform(10, 30) / max(1.0, s) * 4.0)[..., None]
    rim = plategen.plate_mask(W, H)
    edge = plategen._cached(("edge", W, H), lambda: cv2.GaussianBlur(rim, (0, 0), max(1.0, 2.0 * s)) - rim)
    img += (edge * 70.0)[..., None]

    yy, xx = plategen._grid(H, W)
    g = ((xx / W - 0.5) * light[0] + (yy / H - 0.5) * light[1]) * rng.uniform(0.0, 0.2)
    img *= (1.0 + g + 0.04 * plategen._smooth_noise(rng, H, W, 6))[..., None]

    seal_left = rng.random() < 0.35
    r = rng.uniform(0.014, 0.022) * W
    for i, bx in enumerate(BOLT_X):
        c = ((bx + rng.normal(0, 0.004)) * W, (BOLT_Y + rng.normal(0, 0.008)) * H)
        _bolt(img, rng, c, r, s, seal_left and i == 0)

    img = _dirt(img, rng, W, H, s)
    img = _frame(img, rng, style["frame"], W, H, s)
    img = (np.clip(img, 0, 255) * rim[..., None]).astype(np.uint8)

    font_name = "%s:%s" % (style["face"][0].rsplit("/", 1)[-1], style["digit_face"][0].rsplit("/", 1)[-1])
    meta = plategen.plate_meta(plate_plan, line_boxes, chars, rim, font_name, W, H)
    meta["style"] = {"family": style["family"], "frame": style["frame"], "condensed": bool(condensed)}
    return img, meta
