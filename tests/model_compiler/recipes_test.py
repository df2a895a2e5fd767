#!/usr/bin/python3
"""Runs every command of the README's section "Using your own models", in
its order, from the repository root, with its /tmp/own folder moved into a
temporary one and ./build/bin/ pointing at the programs under test.  Each must end with exit
code 0.  The recipes use the shipped models for the other stages.

Usage: recipes_test.py PLATEBENCH CORNERCHECK   (exit 77: shipped models absent)"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SKIP = 77


def commands(text):
    """The indented blocks' commands, continuation lines joined."""
    out, current = [], ""
    for line in text.splitlines():
        if not line.startswith("    "):
            continue
        current += " " + line.strip().rstrip("\\").strip() if current else line.strip().rstrip("\\").strip()
        if not line.rstrip().endswith("\\"):
            out.append(current)
            current = ""
    return out


def first_case_only(line, tmp):
    """The command with its case list (the default one if it names none) cut to the header and first row."""
    words = line.split()
    if "--input-list" in words:
        at = words.index("--input-list") + 1
    else:
        words += ["--input-list", "samples/real_lpr/real_lpr_expected.csv"]
        at = len(words) - 1
    with open(os.path.join(ROOT, words[at]), encoding="utf-8") as f:
        head = f.readlines()[:2]
    short = os.path.join(tmp, "first_%d.csv" % len(os.listdir(tmp)))
    with open(short, "w", encoding="utf-8") as f:
        f.writelines(head)
    words[at] = short
    return " ".join(words)


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    shipped = [os.path.join(ROOT, "models", "rknn", n) for n in
               ("plate_det.rknn", "plate_corner.rknn", "ppocrv6_det.rknn", "ppocrv6_rec.rknn")]
    missing = [p for p in shipped if not os.path.exists(p)]
    if missing:
        print("skipped: shipped models absent: %s" % ", ".join(missing))
        return SKIP
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    start = readme.index("\n## Using your own models\n")
    end = readme.find("\n## ", start + 1)
    lines = commands(readme[start:end if end > 0 else len(readme)])
    if len(lines) < 9:
        print("FAIL: only %d commands found" % len(lines))
        return 1
    # Under an emulator a frame takes a minute: there each run reads the first case of its list only.
    emulated = argv[1].endswith("_emulated.sh")
    with tempfile.TemporaryDirectory(prefix="pb_test_recipes_") as tmp:
        for line in lines:
            line = line.replace("/tmp/own", os.path.join(tmp, "own"))
            if emulated and line.startswith("./build/bin/platebench"):
                line = first_case_only(line, tmp)
            line = line.replace("./build/bin/platebench", os.path.abspath(argv[1]))
            line = line.replace("./build/bin/cornercheck", os.path.abspath(argv[2]))
            run = subprocess.run(["bash", "-c", line], cwd=ROOT, capture_output=True, text=True)
            if run.returncode != 0:
                print("FAIL (exit %d): %s\n%s%s" % (run.returncode, line, run.stdout[-2000:], run.stderr[-2000:]))
                return 1
            print("ok: %s" % line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
