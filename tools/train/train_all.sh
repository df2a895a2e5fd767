#!/bin/sh
# Renders the training bank and trains the four plate models on it.  One thread per job, low priority.
# Training is time-boxed, so a slower machine gives weaker models.
# Usage: tools/train/train_all.sh [SYNTH_TOOLS_DIR]   (default: this repo's tools/)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export PLATE_SYNTH_DIR=${1:-"$here/.."}
export OMP_NUM_THREADS=1
work=${PLATE_TRAIN_DIR:-/tmp/plate_train}
mkdir -p "$work"
py="nice -n 10 /usr/bin/python3"
$py "$here/platebank.py" --out "$work/bank" --count 6000 --seed 9001 --shard 100
$py "$here/train_rec.py" --bank "$work/bank" --minutes 36 --ckpt "$work/rec.pt"
# second pass: fresh schedule, more crops that show the region name
$py "$here/train_rec.py" --bank "$work/bank" --minutes 72 --lr 1.5e-3 --resume --upper-boost 2.0 --ckpt "$work/rec.pt"
$py "$here/train_rec.py" --bank "$work/bank" --minutes 11 --lr 6e-4 --resume --upper-boost 3.0 --ckpt "$work/rec.pt"
$py "$here/train_corner.py" --bank "$work/bank" --minutes 45 --batch 16 --ckpt "$work/corner.pt"
$py "$here/train_corner.py" --bank "$work/bank" --minutes 30 --batch 16 --lr 1e-3 --resume --ckpt "$work/corner.pt"
$py "$here/train_det.py" --bank "$work/bank" --minutes 35 --batch 16 --ckpt "$work/det.pt"
$py "$here/train_textdet.py" --bank "$work/bank" --minutes 14 --batch 8 --lr 4e-3 --ckpt "$work/textdet.pt"
