#!/usr/bin/env bash
# Runs the native platebench (build/) and the AArch64 one (build-aarch64/, under
# qemu) on the same cases and compares what they write, byte for byte.
# Default cases: the first frame of every group in samples/real_lpr. Needs the
# models under models/rknn/ and both builds.
# usage: scripts/cross_compare.sh [case_list.csv]
set -euo pipefail
cd "$(dirname "$0")/.."

out=output/cross_compare
mkdir -p "$out"
list=${1:-}
if [ -z "$list" ]; then
  list=$out/cases.csv
  awk -F, 'NR == 1 || !seen[$3]++' samples/real_lpr/real_lpr_expected.csv > "$list"
fi

# Both sides write into the same directory name so that the paths inside the
# files match; each result is moved aside afterwards.
for side in native aarch64; do
  if [ "$side" = native ]; then
    program=(build/bin/platebench)
  else
    program=(qemu-aarch64-static -L build-aarch64-root build-aarch64/bin/platebench)
  fi
  rm -rf "$out/run" "${out:?}/$side"
  start=$(date +%s%N)
  "${program[@]}" --input-list "$list" --output-dir "$out/run" > "$out/$side.stdout" 2> "$out/$side.stderr"
  end=$(date +%s%N)
  mv "$out/run" "$out/$side"
  echo "$side: $(( (end - start) / 1000000000 )) s wall"
done

status=0
for f in frame_summary.csv FINAL_RESULT.json summary.csv; do
  if cmp -s "$out/native/$f" "$out/aarch64/$f"; then
    echo "same: $f"
  else
    echo "DIFFERENT: $f"
    diff "$out/native/$f" "$out/aarch64/$f" || true
    status=1
  fi
done
for stream in stdout stderr; do
  if cmp -s "$out/native.$stream" "$out/aarch64.$stream"; then
    echo "same: $stream"
  else
    echo "DIFFERENT: $stream"
    status=1
  fi
done
# Per-case records and debug pictures: reported, not judged.
if diff -rq "$out/native/cases" "$out/aarch64/cases" > "$out/cases.diff"; then
  echo "same: every file under cases/"
else
  echo "differ under cases/: $(wc -l < "$out/cases.diff") files (list in $out/cases.diff)"
fi
exit $status
