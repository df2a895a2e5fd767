#!/usr/bin/python3
"""Generate a synthetic plate set: scenes/, rois/, cases_roi.csv, cases_frame.csv, labels.jsonl."""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import cv2  # noqa: E402

from synth import dataset, plategen  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--out", help="output folder (paths in the case lists are written as given)")
    ap.add_argument("--count", type=int, default=0, help="number of frames (images) to generate")
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--frames-per-group", type=int, default=1, help="frames of one vehicle per group")
    ap.add_argument("--hard", action="store_true",
                    help="hard set: plates the reader cannot report exactly (letters, short numbers, "
                         "hiragana region names, the kana を)")
    ap.add_argument("--contact-sheet", metavar="FILE", help="also write a PNG of 40 plates and 8 scenes (24 plates with a real style)")
    ap.add_argument("--no-scenes", action="store_true", help="do not write scene pictures")
    ap.add_argument("--style", choices=plategen.PLATE_STYLES, default="classic",
                    help="plate layout and faces: classic (as the committed samples), real (the layout measured "
                         "on real plates, training faces), real_held_out (the same, faces no training set uses), "
                         "real_condensed or real_condensed_held_out (those two with glyphs narrower than their "
                         "cells, as other renderers' condensed faces draw them)")
    ap.add_argument("--scene", choices=dataset.SCENE_KINDS, default="classic",
                    help="classic (drawn scenes, as the committed samples), photo (photographed backdrops and busy "
                         "car fronts, for the plate detector) or photo_held_out (the same from photographs and "
                         "faces no training set uses)")
    args = ap.parse_args()

    cv2.setNumThreads(1)
    if args.contact_sheet:
        if args.style == "classic":
            shape = dataset.contact_sheet(args.contact_sheet, args.seed, hard=args.hard)
        else:
            shape = dataset.real_layout_sheet(args.contact_sheet, args.seed, style=args.style)
        print("contact sheet %s (%dx%d)" % (args.contact_sheet, shape[1], shape[0]))
    if args.count > 0:
        if not args.out:
            ap.error("--out is required with --count")
        t0 = time.time()
        last = [t0]

        def progress(n):
            if time.time() - last[0] > 10:
                last[0] = time.time()
                print("  %d frames, %.1f/s" % (n, n / (time.time() - t0)), flush=True)

        n = dataset.write_set(args.out, args.count, args.seed, args.frames_per_group, args.hard,
                              write_scenes=not args.no_scenes, progress=progress, style=args.style,
                              scene_kind=args.scene)
        dt = time.time() - t0
        print("%d frames in %s in %.1f s (%.1f frames/s)" % (n, args.out, dt, n / max(dt, 1e-9)))
    elif not args.contact_sheet:
        ap.error("nothing to do: give --count N with --out DIR, or --contact-sheet FILE")


if __name__ == "__main__":
    main()
