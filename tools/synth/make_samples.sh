#!/bin/sh
# Regenerate the committed synthetic data: the recogniser's character list, the checks of both word
# lists, the sample sets under samples/, docs/synth_contact_sheet.png and docs/synth_real_layout.png.
# With --all, also the uncommitted training, evaluation and hard sets under out/synth/.
set -e
cd "$(dirname "$0")/../.."
PY=/usr/bin/python3
export OMP_NUM_THREADS=1

$PY tools/synth/make_dict.py
$PY tools/synth/check_lists.py
$PY tools/synth/make_samples.py
$PY tools/synth/generate.py --contact-sheet docs/synth_contact_sheet.png --seed 1
$PY tools/synth/generate.py --contact-sheet docs/synth_real_layout.png --style real --seed 1

if [ "$1" = "--all" ]; then
    $PY tools/synth/generate.py --out out/synth/train --count 10000 --seed 1
    $PY tools/synth/generate.py --out out/synth/eval --count 1200 --frames-per-group 3 --seed 2
    $PY tools/synth/generate.py --out out/synth/hard --count 600 --frames-per-group 3 --seed 3 --hard
fi
