#!/usr/bin/python3
"""Check the word lists against the generator.

- dict/region_words.txt: one name per line, no blanks or duplicates, the hiragana names present.
- dict/ppocrv6_rec_dict.txt: one character per line, no blank, space-only or duplicate line,
  digits then "-" and "・" first, and every character the generator draws present; it must equal
  what make_dict.py writes.
- Default plates read back exactly: the plate reader's field voting, run over the row texts a
  perfect recogniser would return, must give each default plate's expected text; hard plates are
  counted separately (they are not expected to read back).
Exits 1 on the first failed check.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import numpy as np  # noqa: E402

import plate_fields  # noqa: E402
from synth import make_dict, plategen  # noqa: E402

def row_texts(plate_plan, meta):
    upper, lower = meta["rows"]["upper"], meta["rows"]["lower"]
    serial_area = lower[len(plate_plan["kana"]):]
    return [("original_full", upper + lower), ("original_upper_row", upper),
            ("original_lower_row", lower), ("original_serial_area", serial_area)]


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def read_lines_raw(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(b"\n"):
        fail("%s does not end with a newline" % path)
    return data.decode("utf-8").split("\n")[:-1]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--plates", type=int, default=3000, help="random plates to read back")
    args = ap.parse_args()
    root = plategen.REPO_ROOT
    region_path = os.path.join(root, "dict", "region_words.txt")
    dict_path = os.path.join(root, "dict", "ppocrv6_rec_dict.txt")

    words = read_lines_raw(region_path)
    for w in words:
        if not w or w != w.strip():
            fail("region list: blank line or surrounding white space in %r" % w)
    if len(set(words)) != len(words):
        fail("region list: duplicates")
    for w in plategen.HIRAGANA_REGIONS:
        if w not in words:
            fail("region list: %s missing" % w)
    inside = [(a, b) for a in words for b in words if a != b and a in b]
    if inside:
        fail("region list: names inside other names: %s" % inside)
    print("region list: %d names, longest %d characters" % (len(words), max(len(w) for w in words)))

    entries = read_lines_raw(dict_path)
    for e in entries:
        if len(e) != 1 or e.isspace():
            fail("ocr dictionary: entry %r is not one visible character" % e)
    if len(set(entries)) != len(entries):
        fail("ocr dictionary: duplicates")
    if entries[:12] != list("0123456789") + ["-", "・"]:
        fail("ocr dictionary: must start with the digits, '-', '・'")
    missing = sorted(plategen.plate_characters() - set(entries))
    if missing:
        fail("ocr dictionary: characters the generator draws are missing: %s" % "".join(missing))
    if entries != make_dict.dictionary_entries():
        fail("ocr dictionary: differs from what make_dict.py writes (run it)")
    print("ocr dictionary: %d entries (recogniser classes: %d with the blank)" % (len(entries), len(entries) + 1))

    rng = np.random.default_rng(12345)
    bad = 0
    for i in range(args.plates):
        plate_plan = plategen.random_plate_spec(rng)
        rows = {"upper": plate_plan["region"] + plate_plan["class_no"],
                "lower": plate_plan["kana"] + plate_plan["serial_printed"].replace(" ", "")}
        got = plate_fields.parse_jp_plate(row_texts(plate_plan, {"rows": rows}), words).plate_text
        if plate_plan["hard"] or got != plate_plan["expected"]:
            bad += 1
            if bad <= 5:
                print("  default plate does not read back: expected %r, got %r" % (plate_plan["expected"], got))
    if bad:
        fail("%d of %d default plates do not read back exactly" % (bad, args.plates))
    hard_exact = 0
    for i in range(args.plates):
        plate_plan = plategen.random_plate_spec(rng, hard=True)
        rows = {"upper": plate_plan["region"] + plate_plan["class_no"],
                "lower": plate_plan["kana"] + plate_plan["serial_printed"].replace(" ", "")}
        hard_exact += plate_fields.parse_jp_plate(row_texts(plate_plan, {"rows": rows}), words).plate_text \
            == plate_plan["expected"]
    print("read-back: %d/%d default plates exact; hard plates exact by chance: %d/%d"
          % (args.plates, args.plates, hard_exact, args.plates))

    plate_plan = plategen.random_plate_spec(rng)
    _, meta = plategen.render_plate(plate_plan, rng)
    drawn = set()
    for c in meta["char_boxes"]:
        drawn.update(c["char"])
    if not drawn <= set(entries):
        fail("rendered characters missing from the dictionary")
    print("OK")


if __name__ == "__main__":
    main()
