#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time from its committed seeds.
# Usage: scripts/fuzz.sh [build_dir] (default build-fuzz, configured with
# -DCMAKE_CXX_COMPILER=clang++ -DPLATEBENCH_FUZZ=ON). FUZZ_SECONDS sets the time
# per target (default 10). An input that fails is kept in <build_dir>/fuzz-failures/<target>/;
# add it to fuzz/corpus/<target>/ with the fix, where the tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-fuzz}"
seconds="${FUZZ_SECONDS:-10}"
targets=(case_list split_csv trimmed_lines ctc_decode ctc_decode_kana plate_det_rows text_det_map plate_parser
         rknn_init)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures="$build/fuzz-failures"
failed=()
for t in "${targets[@]}"; do
    mkdir -p "$scratch/$t" "$failures/$t"
    # New inputs go to the scratch folder; the committed seeds are only read.
    if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 \
        -artifact_prefix="$failures/$t/" "$scratch/$t" "fuzz/corpus/$t" >"$scratch/$t.log" 2>&1; then
        echo "fuzz $t: $(grep -E '^stat::number_of_executed_units' "$scratch/$t.log" | awk '{print $2}') runs, clean"
        rmdir "$failures/$t" 2>/dev/null || true
    else
        echo "fuzz $t: FAILED (input kept in $failures/$t/)"
        grep -v -E '^\[WARN\]' "$scratch/$t.log" | tail -n 60
        failed+=("$t")
    fi
done
rmdir "$failures" 2>/dev/null || true
[ ${#failed[@]} -eq 0 ] || { echo "failing fuzz targets: ${failed[*]}"; exit 1; }
