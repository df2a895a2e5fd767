#!/usr/bin/env bash
# Memcheck on one small run of each program: no invalid read or write and no
# leak definitely lost. Usage: scripts/valgrind_check.sh [build_dir]
# (the build dir holds bin/ and the hardening fixtures; default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
fixtures="$build/tests/hardening/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$fixtures/plate.png" "$work/good.png"
printf '川\n品川\n' >"$work/regions.txt"
printf '0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n-\n・\n品\n川\nあ\nさ\n' >"$work/dict.txt"
printf 'image_path,expected\ngood.png,品川 300 あ 12-34\n' >"$work/list.csv"

memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=definite
          --errors-for-leak-kinds=definite --track-origins=no --num-callers=30)
status=0
(cd "$work" && "${memcheck[@]}" --log-file=platebench.vg "$build/bin/platebench" \
    --plate-corner-model "$fixtures/corner.onnx" --ppocr-det-model "$fixtures/textdet.onnx" \
    --ppocr-rec-model "$fixtures/rec.onnx" --dict-region regions.txt --ocr-dict dict.txt \
    --input-list list.csv --output-dir out >/dev/null 2>&1) || status=$?
grep -E "ERROR SUMMARY|definitely lost" "$work/platebench.vg" | sed 's/^==[0-9]*== /platebench: /'
if [ "$status" -ne 0 ]; then
    echo "platebench under memcheck: exit $status" >&2
    cat "$work/platebench.vg" >&2
    exit 1
fi

(cd "$work" && "${memcheck[@]}" --log-file=cornercheck.vg "$build/bin/cornercheck" \
    "$fixtures/corner.onnx" good.png cc >/dev/null 2>&1) || status=$?
grep -E "ERROR SUMMARY|definitely lost" "$work/cornercheck.vg" | sed 's/^==[0-9]*== /cornercheck: /'
if [ "$status" -ne 0 ]; then
    echo "cornercheck under memcheck: exit $status" >&2
    cat "$work/cornercheck.vg" >&2
    exit 1
fi
echo "memcheck clean"
