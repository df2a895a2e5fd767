"""What a camera does to a scene, and the plate crops other tools make from a picture.

shoot() follows the order of a camera's pipeline: light (white balance, exposure, glare) reaches a
sensor that blurs (defocus, motion) and has fewer pixels than the picture, adds its noise, and the
result is JPEG-compressed. processed_crop() cuts the plate out straightened from its corners and
makes it grey, contrast-equalised or black-and-white, as plate tools hand crops on.
"""

import cv2
import numpy as np

from . import plategen

CROP_KINDS = ("grey", "equalised", "thresholded")
CROP_SIZES = ((144, 72), (160, 80), (200, 100), (240, 120), (120, 60))


def new_look(rng, strength=1.0):
    """What stays the same over the frames one camera takes of one vehicle: the light's colour as the
    camera balances it (warm sodium or tungsten, cool shade, a green fluorescent cast) and the exposure."""
    kind = rng.choice(["none", "warm", "cool", "green"], p=[0.4, 0.25, 0.25, 0.1])
    b, g, r = 1.0, 1.0, 1.0
    if kind == "warm":
        t = rng.uniform(0.05, 0.35)
        b, r = 1.0 - t, 1.0 + t * 0.5
    elif kind == "cool":
        t = rng.uniform(0.05, 0.25)
        b, r = 1.0 + t, 1.0 - t * 0.6
    elif kind == "green":
        g = 1.0 + rng.uniform(0.05, 0.15)
    return {"gains": [b, g, r], "stops": float(rng.normal(0.0, 0.45 * strength))}


def _glare(rng, img, quad):
    """A bright soft spot (sun on the plate, a headlight) that washes out what lies under it."""
    h, w = img.shape[:2]
    if quad is not None and rng.random() < 0.6:
        c = quad.mean(axis=0) + rng.normal(0, 1, 2) * np.linalg.norm(quad[1] - quad[0]) * 0.3
        size = np.linalg.norm(quad[1] - quad[0]) * rng.uniform(0.1, 0.6)
    else:
        c = np.array([rng.uniform(0, w), rng.uniform(0, h)])
        size = min(w, h) * rng.uniform(0.03, 0.2)
    yy, xx = plategen._grid(h, w)
    d2 = ((xx - c[0]) ** 2 + ((yy - c[1]) * rng.uniform(0.8, 2.5)) ** 2) / (size * size)
    spot = np.exp(-d2) * rng.uniform(120, 400)
    # a streak across the spot, as a lens makes of a point light
    if rng.random() < 0.4:
        a = rng.uniform(0, np.pi)
        dist = np.abs((xx - c[0]) * np.sin(a) - (yy - c[1]) * np.cos(a))
        spot += np.exp(-(dist / (size * 0.08)) ** 2) * np.exp(-d2 / 16.0) * rng.uniform(40, 160)
    tint = np.array([1.0, 1.0, 1.0], np.float32) if rng.random() < 0.7 else np.array([0.8, 0.95, 1.1], np.float32)
    return img + spot[..., None] * tint


def _blur(rng, img, strength):
    r = rng.random()
    if r < 0.3 * strength:
        radius = rng.uniform(0.8, 3.0)
        k = int(np.ceil(radius)) * 2 + 1
        disc = np.zeros((k, k), np.float32)
        cv2.circle(disc, (k // 2 * 16 + 8, k // 2 * 16 + 8), int(radius * 16), 1.0, -1, cv2.LINE_AA, 4)
        img = cv2.filter2D(img, -1, disc / max(1e-6, disc.sum()))
    elif r < 0.5 * strength:
        img = cv2.filter2D(img, -1, plategen.motion_kernel(rng, int(rng.integers(3, 12))))
    elif r < 0.75 * strength:
        img = cv2.GaussianBlur(img, (0, 0), rng.uniform(0.4, 1.5))
    return img


def _sensor(rng, img, strength):
    """Fewer sensor pixels than picture pixels, shot and read noise, and blotchy colour noise."""
    h, w = img.shape[:2]
    if rng.random() < 0.35 * strength:
        f = rng.uniform(1.3, 3.5)
        small = cv2.resize(img, (max(8, int(w / f)), max(8, int(h / f))), interpolation=cv2.INTER_AREA)
        img = cv2.resize(small, (w, h), interpolation=cv2.INTER_LINEAR if rng.random() < 0.7 else cv2.INTER_CUBIC)
    read = rng.uniform(0.0, 6.0) * strength
    shot = rng.uniform(0.0, 0.8) * strength
    sigma = np.sqrt(read * read + shot * shot * np.clip(img, 0, 255))
    img = img + plategen._gauss(rng, img.shape, 1.0) * sigma
    if rng.random() < 0.3 * strength:
        chroma = plategen._gauss(rng, (max(2, h // 4), max(2, w // 4), 3), rng.uniform(2, 7))
        img = img + cv2.resize(chroma, (w, h), interpolation=cv2.INTER_LINEAR)
    return img


def jpeg(rng, img, quality=(30, 90)):
    q = int(rng.integers(quality[0], quality[1] + 1))
    ok, buf = cv2.imencode(".jpg", img, [cv2.IMWRITE_JPEG_QUALITY, q])
    return cv2.imdecode(buf, cv2.IMREAD_COLOR)


def shoot(rng, img, quad=None, strength=1.0, look=None):
    """img (BGR uint8) as a camera would have taken it; quad (tl, tr, br, bl) aims the glare at the plate;
    look (new_look) is shared by the frames of one vehicle, each frame moving a little from it."""
    look = look or new_look(rng, strength)
    out = img.astype(np.float32)
    gains = np.asarray(look["gains"], np.float32) * (1.0 + rng.normal(0, 0.015, 3)).astype(np.float32)
    # exposure in stops, clipped like a sensor: over-exposed plates lose their characters
    out *= gains * np.float32(2.0 ** (look["stops"] + rng.normal(0.0, 0.12 * strength)))
    if rng.random() < 0.2 * strength:
        out = _glare(rng, out, quad)
    out = np.clip(out, 0, 255)
    out = _blur(rng, out, strength)
    out = _sensor(rng, out, strength)
    out = np.clip(out, 0, 255).astype(np.uint8)
    out = jpeg(rng, out)
    if rng.random() < 0.2:
        # shared pictures are often compressed twice
        out = jpeg(rng, out, (50, 90))
    return out


def processed_crop(rng, img, corners, kind=None, size=None):
    """The plate straightened from its corners (tl, tr, br, bl) onto size with a small margin, then made
    grey, equalised or thresholded (kind). Returns (BGR picture, corners in it, kind)."""
    kind = kind or CROP_KINDS[int(rng.integers(0, len(CROP_KINDS)))]
    w, h = size or CROP_SIZES[int(rng.integers(0, len(CROP_SIZES)))]
    # tools cut close: the plate fills the crop up to a few per cent on each side
    m = rng.uniform(0.0, 0.06, 4)
    dst = np.array([[m[0] * w, m[1] * h], [w - 1 - m[2] * w, m[1] * h], [w - 1 - m[2] * w, h - 1 - m[3] * h],
                    [m[0] * w, h - 1 - m[3] * h]], np.float32)
    dst += rng.normal(0, 0.8, dst.shape).astype(np.float32)
    M = cv2.getPerspectiveTransform(np.asarray(corners, np.float32), dst)
    crop = cv2.warpPerspective(img, M, (w, h), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)
    grey = cv2.cvtColor(crop, cv2.COLOR_BGR2GRAY)
    if kind == "equalised":
        if rng.random() < 0.5:
            grey = cv2.equalizeHist(grey)
        else:
            grey = cv2.createCLAHE(clipLimit=float(rng.uniform(1.5, 4.0)), tileGridSize=(4, 4)).apply(grey)
    elif kind == "thresholded":
        if rng.random() < 0.5:
            _, grey = cv2.threshold(grey, 0, 255, cv2.THRESH_BINARY | cv2.THRESH_OTSU)
        else:
            block = int(rng.integers(5, 16)) * 2 + 1
            grey = cv2.adaptiveThreshold(grey, 255, cv2.ADAPTIVE_THRESH_GAUSSIAN_C, cv2.THRESH_BINARY, block,
                                         float(rng.uniform(2, 10)))
        if rng.random() < 0.2:
            grey = 255 - grey
    out = cv2.cvtColor(grey, cv2.COLOR_GRAY2BGR)
    if rng.random() < 0.5:
        out = jpeg(rng, out, (60, 95))
    return out, dst, kind
