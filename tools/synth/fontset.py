"""The Japanese faces that Debian packages ship, which characters each one really has, and glyph masks
drawn from them with a stroke-weight change.

Faces are grouped into families so that a family with many weights (Noto, M+) is not drawn more
often than one with a single face. A face that lacks a character is skipped for that character only:
the glyph comes from the plate's fallback face instead.
"""

import collections
import os

import cv2
import numpy as np
from PIL import Image, ImageDraw, ImageFont

# (family, Debian package, licence of the font files, kind, held out, [(path, face index), ...])
# kind: gothic, rounded or brush. Held-out families are not drawn for training sets, so that a set
# made from them shows letterforms no model has seen.
_N = "/usr/share/fonts/opentype/noto/"
_T = "/usr/share/fonts/truetype/"
_O = "/usr/share/fonts/opentype/"
FAMILIES = [
    ("noto-sans-cjk", "fonts-noto-cjk, fonts-noto-cjk-extra", "SIL OFL 1.1", "gothic", False,
     [(_N + "NotoSansCJK-%s.ttc" % w, 0) for w in ("DemiLight", "Regular", "Medium", "Bold", "Black")]),
    ("ipa-gothic", "fonts-ipafont-gothic", "IPA Font License 1.0", "gothic", False,
     [(_O + "ipafont-gothic/ipag.ttf", 0), (_O + "ipafont-gothic/ipagp.ttf", 0)]),
    ("ipaex-gothic", "fonts-ipaexfont-gothic", "IPA Font License 1.0", "gothic", False,
     [(_O + "ipaexfont-gothic/ipaexg.ttf", 0)]),
    ("takao-gothic", "fonts-takao-gothic", "IPA Font License 1.0", "gothic", False,
     [(_T + "takao-gothic/TakaoGothic.ttf", 0), (_T + "takao-gothic/TakaoPGothic.ttf", 0)]),
    ("vl-gothic", "fonts-vlgothic", "M+ FONT LICENSE and BSD-3-Clause (Sazanami)", "gothic", False,
     [(_T + "vlgothic/VL-Gothic-Regular.ttf", 0), (_T + "vlgothic/VL-PGothic-Regular.ttf", 0)]),
    ("mplus", "fonts-mplus", "SIL OFL 1.1", "gothic", False,
     [(_O + "mplus/Mplus%d-%s.otf" % (n, w), 0) for n in (1, 2)
      for w in ("Regular", "Medium", "SemiBold", "Bold", "ExtraBold", "Black")]),
    ("motoya-cedar", "fonts-motoya-l-cedar", "Apache 2.0", "gothic", False,
     [(_T + "motoya-l-cedar/MTLc3m.ttf", 0)]),
    ("motoya-maruberi", "fonts-motoya-l-maruberi", "Apache 2.0", "rounded", False,
     [(_T + "motoya-l-maruberi/MTLmr3m.ttf", 0)]),
    ("komatuna", "fonts-komatuna", "CC BY-SA 3.0", "rounded", False,
     [(_T + "komatuna/komatuna.ttf", 0), (_T + "komatuna/komatuna-p.ttf", 0)]),
    ("konatu", "fonts-konatu", "MIT", "rounded", False,
     [(_T + "konatu/Konatu.ttf", 0), (_T + "konatu/KonatuTohaba.ttf", 0)]),
    ("ume-gothic", "fonts-horai-umefont", "Ume Font License", "gothic", False,
     [(_T + "horai-umefont/ume-%s.ttf" % n, 0)
      for n in ("tgo4", "tgo5", "tgc4", "tgc5", "tgs4", "hgo4", "hgo5", "ugo4", "ugo5")]),
    ("umeplus", "fonts-umeplus, fonts-umeplus-cl", "M+ FONT LICENSE and Ume Font License", "gothic", False,
     [(_T + "umeplus/umeplus-gothic.ttf", 0), (_T + "umeplus-cl/umeplus-cl-gothic.ttf", 0)]),
    ("migmix", "fonts-migmix", "IPA Font License 1.0", "gothic", False,
     [(_T + "migmix/%s.ttf" % n, 0)
      for n in ("migu-1c-regular", "migu-1c-bold", "migmix-1p-bold", "migmix-2p-bold", "migmix-2p-regular")]),
    ("biz-ud-gothic", "fonts-morisawa-bizud-gothic", "SIL OFL 1.1", "gothic", True,
     [(_T + "bizud-gothic/BIZUDGothic-Regular.ttf", 0), (_T + "bizud-gothic/BIZUDGothic-Bold.ttf", 0)]),
    ("sawarabi-gothic", "fonts-sawarabi-gothic", "CC BY 3.0", "gothic", True,
     [(_T + "sawarabi-gothic/sawarabi-gothic-medium.ttf", 0)]),
    ("kouzan-brush", "fonts-kouzan-mouhitsu", "public domain (as Debian states it)", "brush", True,
     [(_T + "kouzan-mouhitsu/kouzan-mouhitsu.ttf", 0)]),
]

# The face every plate falls back to for a character its own face lacks.
FALLBACK_FACES = [(_N + "NotoSansCJK-Bold.ttc", 0), (_O + "ipafont-gothic/ipag.ttf", 0)]

GLYPH_PX = 160
_CHECK_PX = 48


def debian_packages():
    """The packages of every listed family, one name each, in list order."""
    names = []
    for fam in FAMILIES:
        for p in fam[1].split(","):
            p = p.strip()
            if p not in names:
                names.append(p)
    return names


def families(pool="train"):
    """Installed families as (name, kind, [faces]); pool is "train", "held_out" or "all". Brush faces are
    only in "all": no plate is written with a brush, they serve checks of coverage and odd tests."""
    out = []
    for name, _, _, kind, held_out, faces in FAMILIES:
        if pool != "all" and (kind == "brush" or held_out != (pool == "held_out")):
            continue
        present = [f for f in faces if os.path.exists(f[0])]
        if present:
            out.append((name, kind, present))
    return out


def fallback_face():
    for f in FALLBACK_FACES:
        if os.path.exists(f[0]):
            return f
    raise RuntimeError("no Japanese font found (install fonts-noto-cjk or fonts-ipafont-gothic)")


_faces = {}


def _face(font, px):
    key = (font, px)
    face = _faces.get(key)
    if face is None:
        face = ImageFont.truetype(font[0], px, index=font[1])
        _faces[key] = face
    return face


def _mask_bytes(face, ch):
    m = face.getmask(ch)
    return m.size, bytes(m)


_notdef = {}
_coverage = {}


def has_glyph(font, ch):
    """True when font draws ch with a glyph of its own (not the missing-glyph box, not blank)."""
    key = (font, ch)
    ok = _coverage.get(key)
    if ok is None:
        face = _face(font, _CHECK_PX)
        try:
            if font not in _notdef:
                # private-use code points no plate font maps: what the face shows for a missing glyph
                _notdef[font] = {_mask_bytes(face, c) for c in ("\ue000", "\U000f0000")}
            size, data = _mask_bytes(face, ch)
            ok = size[0] > 0 and size[1] > 0 and any(data) and (size, data) not in _notdef[font]
        except OSError:
            # some faces carry hinting that FreeType refuses for a few glyphs
            ok = False
        _coverage[key] = ok
    return ok


# masks are about 20 kB; every face, character and weight together would not fit in memory
GLYPH_CACHE_SIZE = 8000
_glyphs = collections.OrderedDict()


def glyph(font, ch, weight=0):
    """Tight 8-bit mask of ch drawn GLYPH_PX high in font; weight > 0 thickens the strokes by that many
    pixels of the GLYPH_PX drawing, weight < 0 thins them."""
    key = (font, ch, weight)
    mask = _glyphs.get(key)
    if mask is not None:
        _glyphs.move_to_end(key)
    else:
        face = _face(font, GLYPH_PX)
        pad = GLYPH_PX // 4 + abs(weight) * 2
        canvas = Image.new("L", (GLYPH_PX * (len(ch) + 1) + pad * 2, GLYPH_PX * 2 + pad * 2), 0)
        ImageDraw.Draw(canvas).text((pad, pad), ch, font=face, fill=255)
        a = np.asarray(canvas).copy()
        if weight != 0:
            k = cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (2 * abs(weight) + 1, 2 * abs(weight) + 1))
            a = cv2.dilate(a, k) if weight > 0 else cv2.erode(a, k)
        ys, xs = np.nonzero(a > 8)
        if len(ys) == 0:
            # strokes thinned away: the undrawn glyph is better than none
            return glyph(font, ch, 0)
        mask = a[ys.min():ys.max() + 1, xs.min():xs.max() + 1].copy()
        _glyphs[key] = mask
        if len(_glyphs) > GLYPH_CACHE_SIZE:
            _glyphs.popitem(last=False)
    return mask
