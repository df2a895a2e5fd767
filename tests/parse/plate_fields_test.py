#!/usr/bin/python3
"""tools/plate_fields.py against the reader's own parser: the same candidate
lists through both must give the same five fields.

  plate_fields_test.py PLATE_PARSE_DRIVER"""
import os
import random
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import plate_fields  # noqa: E402

WORDS = ["品川", "横浜", "とちぎ", "尾張小牧", "高松", "松本", "AB", "ABC", "B", "港\u3000"]

# (candidates, plate text the reader gives): one line per behaviour the copy could get wrong.
CASES = [
    ([], ""),
    ([("a_full", " \t\r\n"), ("b_full", "")], ""),
    ([("original_full", "品川 300 あ 12-34")], "品川 300 あ 12-34"),
    ([("a_full", "12-34")], "12-34"),
    ([("a_full", "品川300・12-34")], "品川 300  12-34"),
    ([("a_full", "300・1234567")], "300  45-67"),
    ([("a_full", "3001・12")], "30-01"),
    ([("a_full", "12-")], ""),
    ([("a_full", "1--2x34")], ""),
    ([("a_upper_row", "300"), ("a_lower_row", "500")], "300  500"),
    ([("a_upper_row", "300"), ("a_lower_row", "500"), ("b_full", "品川500"), ("c_full", "品川500")], "品川 500  300"),
    ([("a_upper_row", "300"), ("a_lower_row", "500"), ("b_full", "品川500"), ("c_det_crop_0", "500")], "品川 300  500"),
    ([("a_upper_row", "301"), ("a_upper_row", "300"), ("b", "か"), ("b", "い")], "300 い 300"),
    ([("a_full", "とちぎ500")], "とちぎ 500 ち 500"),
    ([("a_full", "とちぎ500あ")], "とちぎ 500 あ 500"),
    ([("a_full", "尾張小牧500")], "尾張小牧 500  500"),
    ([("a", "xABCx"), ("b", "xBx"), ("c", "xBx")], "B"),
    ([("a", "高松松本"), ("b", "松本高松")], "高松"),
    ([("a_full", "品川　300"), ("b_serial_area", "１２３４")], "品川 300  300"),
    ([("a_full", "愛300れ88-88"), ("b_lower_row", "れ8888")], "300 れ 88-88"),
    ([("a", "港\u3000")], "港\u3000"),
    ([("up2x_serial_area", "1234"), ("clahe_upper_row", "1299"), ("gray_full", "12-99")], "12-99"),
]

# The helpers as the reader's own tests have them.
DIGIT_RUNS = [
    ("", []), ("品川", []), ("12-34", ["12-34"]), ("-12", ["12"]), ("12-", ["12-"]), ("12・34", ["12", "34"]),
    ("品川300あ12-34", ["300", "12-34"]), ("1--2x", ["1--2"]), ("a1b22", ["1", "22"]),
]
SERIALS = [("", ""), ("1234", "12-34"), ("12-34", "12-34"), ("123", "123"), ("12345", "12345"), ("1・2３4", "124")]

FRAGMENTS = WORDS + ["", " ", "\t", "\n", "-", "・", "あ", "を", "ち", "か", "愛", "x", "０",
                     "1", "12", "300", "301", "500", "1234", "12-34", "7654321", "3001"]
SOURCES = ["original_full", "gray_upper_row", "clahe_lower_row", "sharpen_serial_area", "up2x_full_upper_row",
           "original_det_crop_0", "t"]


def random_cases(n, seed):
    rng = random.Random(seed)
    for _ in range(n):
        texts = [(rng.choice(SOURCES), "".join(rng.choice(FRAGMENTS) for _ in range(rng.randint(0, 6))))
                 for _ in range(rng.randint(0, 7))]
        yield texts, None


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def run_reader(driver, cases):
    with tempfile.TemporaryDirectory(prefix="pb_test_") as tmp:
        words_path = os.path.join(tmp, "words.txt")
        with open(words_path, "w", encoding="utf-8") as f:
            f.write("\n".join(WORDS) + "\n")
        feed = "".join("".join("%s\t%s\n" % (tag, escape(text)) for tag, text in texts) + "=\n"
                       for texts, _ in cases)
        out = subprocess.run([driver, words_path], input=feed.encode("utf-8"), stdout=subprocess.PIPE,
                             check=True).stdout.decode("utf-8")
    return [tuple(line.split("\t")) for line in out.split("\n")[:-1]]


def main():
    cases = CASES + list(random_cases(400, 31))
    reader = run_reader(sys.argv[1], cases)
    if len(reader) != len(cases):
        sys.exit("FAIL: the reader answered %d of %d plates" % (len(reader), len(cases)))
    failures = 0
    for (texts, want), got in zip(cases, reader):
        mine = tuple(plate_fields.parse_jp_plate(texts, WORDS))
        if mine != got or (want is not None and got[4] != want):
            failures += 1
            print("FAIL %r\n  reader %r\n  tools  %r\n  table  %r" % (texts, got, mine, want))
    for texts, _ in cases:
        fields = plate_fields.parse_jp_plate(texts, WORDS)
        # An expectation always has a region and a serial, so nothing at its ends is trimmed away.
        if fields.region and fields.serial and plate_fields.split_plate_text(fields.plate_text)[:4] != fields[:4]:
            failures += 1
            print("FAIL split_plate_text(%r) != %r" % (fields.plate_text, fields[:4]))
    for text, runs in DIGIT_RUNS:
        if plate_fields.extract_digit_runs(text) != runs:
            failures += 1
            print("FAIL extract_digit_runs(%r) = %r, not %r" % (text, plate_fields.extract_digit_runs(text), runs))
    for text, serial in SERIALS:
        if plate_fields.format_serial(text) != serial:
            failures += 1
            print("FAIL format_serial(%r) = %r, not %r" % (text, plate_fields.format_serial(text), serial))
    print("%d plates, %d differ" % (len(cases), failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
