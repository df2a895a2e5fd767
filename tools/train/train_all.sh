#!/bin/sh
# Renders the training banks and trains the four plate models on them, low priority.
# Training is time-boxed, so a slower machine gives weaker models. PLATE_TRAIN_THREADS sets torch's
# threads per job (default 1).
# Usage: tools/train/train_all.sh [SYNTH_TOOLS_DIR]   (default: this repo's tools/)
# tools/train/setup.sh installs what it needs.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export PLATE_SYNTH_DIR="${1:-"$here/.."}"
work=${PLATE_TRAIN_DIR:-/tmp/plate_train}
mkdir -p "$work"
py="nice -n 10 /usr/bin/python3"
# glibc hands the freed activations of every step back to the kernel and faults them in again on the next one
# (about 50 000 page faults a second); keeping them makes a recogniser step about 2.5 times faster here
export MALLOC_TRIM_THRESHOLD_=2147483647 MALLOC_TOP_PAD_=268435456 MALLOC_MMAP_THRESHOLD_=2147483647
banks="$work/bank $work/bank_rr"
$py "$here/platebank.py" --out "$work/bank" --count 6000 --seed 9001 --shard 100
# a second bank where most region names are made-up strings of the listed kanji
$py "$here/platebank.py" --out "$work/bank_rr" --count 2400 --seed 9102 --shard 100 \
    --random-region-frac 0.7 --hard-frac 0.05
# banks of mostly small plates (50-150 px wide in the scene) with more yellow-on-black ones, where the region
# name is hardest to read; the smr ones with made-up region names on half of them
small=""
small_bank() {  # NAME SEED SMALL_FRAC [more platebank options]
    name=$1 seed=$2 frac=$3
    shift 3
    $py "$here/platebank.py" --out "$work/$name" --count 4000 --seed "$seed" --shard 100 --small-frac "$frac" \
        --hard-frac 0.05 --family-weights 0.42 0.12 0.08 0.18 0.20 "$@"
    small="$small $work/$name"
}
small_bank bank_sm 9301 0.6
small_bank bank_smr 9302 0.6 --random-region-frac 0.5
# four more with a larger share of small plates
small_bank bank_sm2 9303 0.7
small_bank bank_smr2 9304 0.7 --random-region-frac 0.5
small_bank bank_sm3 9305 0.7
small_bank bank_smr3 9306 0.7 --random-region-frac 0.5
first_small=$small
# and four more for the last pass
small_bank bank_sm4 9307 0.7
small_bank bank_smr4 9308 0.7 --random-region-frac 0.5
small_bank bank_sm5 9309 0.7
small_bank bank_smr5 9310 0.7 --random-region-frac 0.5
$py "$here/train_corner.py" --bank "$work/bank" --minutes 52 --batch 16 --ckpt "$work/corner.pt" \
    --out "$work/plate_corner.rknn"
$py "$here/train_rec.py" --bank "$work/bank" --minutes 36 --ckpt "$work/rec.pt" --out "$work/rec.rknn"
# later passes: fresh schedules, more crops that show the region name, then part of the plates
# rectified with the corner model's own corners as the reader will see them
$py "$here/train_rec.py" --bank "$work/bank" --minutes 72 --lr 1.5e-3 --resume --upper-boost 2.0 \
    --ckpt "$work/rec.pt" --out "$work/rec.rknn"
$py "$here/train_rec.py" --bank "$work/bank" --minutes 20 --lr 1e-3 --resume --upper-boost 5.0 \
    --ckpt "$work/rec.pt" --out "$work/rec.rknn"
$py "$here/train_rec.py" --bank "$work/bank" --minutes 40 --lr 1e-3 --resume --upper-boost 3.0 \
    --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn"
# shellcheck disable=SC2086
$py "$here/train_rec.py" --bank $banks --minutes 57 --lr 6e-4 --resume --upper-boost 3.0 \
    --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn"
# shellcheck disable=SC2086
$py "$here/train_rec.py" --bank $banks --minutes 100 --lr 6e-4 --resume --upper-boost 3.0 \
    --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" --export-every 20
# then the small-plate banks as well: first two of them, then six, then all ten (stopped part-way)
# shellcheck disable=SC2086
$py "$here/train_rec.py" --bank $banks "$work/bank_sm" "$work/bank_smr" --minutes 105 --lr 6e-4 \
    --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 20
# shellcheck disable=SC2086
$py "$here/train_rec.py" --bank $banks $first_small --minutes 95 --lr 5e-4 --seed 11 \
    --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 19
# shellcheck disable=SC2086
$py "$here/train_rec.py" --bank $banks $small --minutes 90 --stop-after 54 --lr 5e-4 --seed 13 \
    --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 18
# last, a pass on the plates with listed region names only (two more banks of them), exporting a running
# average of the weights
small_bank bank_sm6 9311 0.7
small_bank bank_sm7 9312 0.7
$py "$here/train_rec.py" --bank "$work/bank" "$work/bank_sm" "$work/bank_sm2" "$work/bank_sm3" "$work/bank_sm4" \
    "$work/bank_sm5" "$work/bank_sm6" "$work/bank_sm7" --minutes 60 --lr 3e-4 --seed 17 --ema 0.999 \
    --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 12
# and once more on the same kind of plates with six further small-plate banks, kept at 44 minutes of a
# 55-minute schedule
more=""
for i in 8 9 10 11 12 13; do
    small_bank "bank_sm$i" $((9305 + i)) 0.7
    more="$more $work/bank_sm$i"
done
# shellcheck disable=SC2086
$py "$here/train_rec.py" --bank "$work/bank" "$work/bank_sm" "$work/bank_sm2" "$work/bank_sm3" "$work/bank_sm4" \
    "$work/bank_sm5" "$work/bank_sm6" "$work/bank_sm7" $more --minutes 55 --stop-after 44 --lr 3e-4 --seed 19 \
    --ema 0.999 --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" \
    --out "$work/rec.rknn" --export-every 11
# then a pass on a bank where half of the vehicles carry a plate in the layout measured on real plates (its
# serial starts inside the fixed serial area), kept at 36 minutes of a 45-minute schedule
$py "$here/platebank.py" --out "$work/bank_real" --count 3000 --seed 9401 --shard 100 --real-frac 0.5 \
    --hard-frac 0.05 --small-frac 0.3
$py "$here/train_rec.py" --bank "$work/bank_real" --minutes 45 --stop-after 36 --lr 4e-4 --seed 29 --ema 0.999 \
    --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 9
# and once more on a bank with more real-layout plates, a third of whose ROIs are crops that another tool
# straightened and made grey, equalised or thresholded; kept at 36 minutes of a 45-minute schedule
$py "$here/platebank.py" --out "$work/bank_processed" --count 3600 --seed 9403 --shard 100 --real-frac 0.6 \
    --processed-frac 0.3 --hard-frac 0.05 --small-frac 0.3
$py "$here/train_rec.py" --bank "$work/bank_processed" --minutes 45 --stop-after 36 --lr 4e-4 --seed 31 \
    --ema 0.999 --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" \
    --out "$work/rec.rknn" --export-every 9
# then two passes on four banks where 7 or 8 vehicles in 10 carry a real-layout plate and a fifth or a quarter of
# those ROIs are processed crops: 45 minutes on the first two, then 30 more on all four
real_bank() {  # NAME SEED REAL_FRAC PROCESSED_FRAC [SMALL_FRAC [more platebank options]]
    rb_name=$1 rb_seed=$2 rb_real=$3 rb_processed=$4 rb_small=${5:-0.3}
    shift $(($# < 5 ? $# : 5))
    $py "$here/platebank.py" --out "$work/$rb_name" --count 3000 --seed "$rb_seed" --shard 100 \
        --real-frac "$rb_real" --processed-frac "$rb_processed" --hard-frac 0.05 --small-frac "$rb_small" "$@"
}
reals_to() {  # N: the real-layout banks bank_real2 .. bank_realN
    for i in $(seq 2 "$1"); do printf ' %s' "$work/bank_real$i"; done
}
real_bank bank_real2 9405 0.7 0.2
real_bank bank_real3 9406 0.8 0.25
# shellcheck disable=SC2046
$py "$here/train_rec.py" --bank $(reals_to 3) --minutes 45 --lr 4e-4 --seed 37 --ema 0.999 \
    --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 9
real_bank bank_real4 9407 0.7 0.2
real_bank bank_real5 9408 0.8 0.25
# shellcheck disable=SC2046
$py "$here/train_rec.py" --bank $(reals_to 5) \
    --minutes 30 --lr 3e-4 --seed 43 --ema 0.999 --resume --upper-boost 3.0 --corner-model "$work/plate_corner.rknn" \
    --ckpt "$work/rec.pt" --out "$work/rec.rknn" --export-every 10
# a third pass on six real-layout banks and the first 2000 classic vehicles of bank again (they are bank_cl), with
# more weight on the upper row, then a fourth with four more banks of mostly small plates (to 50-150 px wide), of
# which the 20-minute snapshot of a 40-minute schedule is shipped
real_bank bank_real6 9409 0.7 0.2
real_bank bank_real7 9410 0.8 0.25
# a shard depends only on the seed and its index, so bank_cl is bank's first 20 shards, linked, not drawn again
mkdir -p "$work/bank_cl"
for i in $(seq 0 19); do ln -sf "$work/bank/shard_$(printf %04d "$i").pkl" "$work/bank_cl/"; done
# shellcheck disable=SC2046
$py "$here/train_rec.py" --bank $(reals_to 7) "$work/bank_cl" --minutes 45 --lr 3e-4 --seed 47 --ema 0.999 \
    --resume --upper-boost 4.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 9
real_bank bank_real8 9411 0.8 0.2 0.6
real_bank bank_real9 9412 0.8 0.2 0.6
real_bank bank_real10 9413 0.8 0.15 0.7
real_bank bank_real11 9414 0.8 0.15 0.7
# shellcheck disable=SC2046
$py "$here/train_rec.py" --bank $(reals_to 11) "$work/bank_cl" --minutes 40 --stop-after 20 --lr 2.5e-4 --seed 53 \
    --ema 0.999 --resume --upper-boost 4.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" \
    --out "$work/rec.rknn" --export-every 10
# a fifth pass with three banks where half of the real-layout plates are drawn condensed (glyphs narrower than
# their cells, as other renderers' faces draw them), beside bank_real6, bank_real8 and bank_cl
real_bank bank_c1 9601 0.8 0.2 0.3 --condensed-frac 0.5
real_bank bank_c2 9602 0.8 0.2 0.3 --condensed-frac 0.5
real_bank bank_c3 9603 0.8 0.15 0.6 --condensed-frac 0.5
$py "$here/train_rec.py" --bank "$work/bank_c1" "$work/bank_c2" "$work/bank_c3" "$work/bank_real6" \
    "$work/bank_real8" "$work/bank_cl" --minutes 50 --lr 3e-4 --seed 59 --ema 0.999 --resume \
    --upper-boost 4.0 --corner-model "$work/plate_corner.rknn" --ckpt "$work/rec.pt" --out "$work/rec.rknn" \
    --export-every 10
$py "$here/train_det.py" --bank "$work/bank" --minutes 35 --batch 16 --ckpt "$work/det.pt" --out "$work/det.rknn"
# shellcheck disable=SC2086
$py "$here/train_det.py" --bank $banks --minutes 22 --batch 16 --lr 1e-3 --resume --ckpt "$work/det.pt" \
    --out "$work/det.rknn"
# then the detector once more, on photographed scenes with busy car fronts (tools/synth/scene.py) beside
# classic ones, an eighth of the photographed ones without a plate, fine-tuned from the compiled detector.
# The shipped pass began on the first 700 scenes of each bank and took in bank_photo1's later shards as they
# were written; these are the scenes it had in the end
photo_bank() {  # NAME SEED COUNT
    $py "$here/platebank.py" --out "$work/$1" --count "$3" --seed "$2" --shard 100 --photo-frac 0.7 \
        --negative-frac 0.12 --real-frac 0.5 --hard-frac 0.05
}
photo_bank bank_photo1 9501 1900
photo_bank bank_photo2 9502 700
$py "$here/train_det.py" --bank "$work/bank_photo1" "$work/bank_photo2" --from-compiled "$work/det.rknn" \
    --minutes 45 --batch 16 --lr 1e-3 --rank-weight 0.3 --seed 31 --ckpt "$work/det_photo.pt" \
    --out "$work/det_photo.rknn" --export-every 9 --keep-snapshots
cp "$work/det_photo.rknn" "$work/det.rknn"
$py "$here/train_textdet.py" --bank "$work/bank" --minutes 14 --batch 8 --lr 4e-3 --ckpt "$work/textdet.pt" \
    --out "$work/textdet.rknn"
models="$here/../../models/rknn"
cp "$work/plate_corner.rknn" "$models/plate_corner.rknn"
cp "$work/rec.rknn" "$models/ppocrv6_rec.rknn"
cp "$work/det.rknn" "$models/plate_det.rknn"
cp "$work/textdet.rknn" "$models/ppocrv6_det.rknn"
