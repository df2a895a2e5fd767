#!/usr/bin/python3
"""Write the recogniser's character list from what the generator draws.

Order (class k = line k, class 0 is the CTC blank): the ten digits, "-", "・", the hiragana,
then the other characters of the region names (ヶ and the kanji) by code point, then the
letters that class numbers may hold. Appending new characters at the end keeps the classes
of a trained recogniser valid.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from synth import plategen  # noqa: E402


def dictionary_entries():
    chars = plategen.plate_characters()
    head = list("0123456789") + ["-", "・"]
    hiragana = sorted(c for c in chars if "\u3041" <= c <= "\u309f" and c != "・")
    letters = list(plategen.CLASS_LETTERS)
    rest = sorted(c for c in chars if c not in head and c not in hiragana and c not in letters)
    return head + hiragana + rest + letters


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--out", default=os.path.join(plategen.REPO_ROOT, "dict", "ppocrv6_rec_dict.txt"))
    args = ap.parse_args()
    entries = dictionary_entries()
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(entries) + "\n")
    print("%s: %d entries" % (args.out, len(entries)))


if __name__ == "__main__":
    main()
