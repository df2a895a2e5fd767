#!/usr/bin/env bash
# The hardening checks, after the normal build and tests (scripts/test.sh):
# every test again in a sanitizer build (build-asan), each fuzz target for a
# bounded time (build-fuzz, clang), and memcheck on one small run of each
# program from the normal build (build).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Exit codes of their own, so a sanitizer report is never taken for one of
# the programs' own exit codes.
export ASAN_OPTIONS=exitcode=86:detect_leaks=1
export UBSAN_OPTIONS=exitcode=87:print_stacktrace=1:halt_on_error=1

# Light optimisation and line tables only: quicker to build, still readable reports.
quick=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1"
       "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1")

cmake -S . -B build-asan "${quick[@]}" -DPLATEBENCH_SANITIZE=ON
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-fuzz "${quick[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DPLATEBENCH_FUZZ=ON -DPLATEBENCH_BUILD_TESTS=OFF
cmake --build build-fuzz -j"$jobs" --target fuzzers
FUZZ_SECONDS="${FUZZ_SECONDS:-10}" bash scripts/fuzz.sh build-fuzz

bash scripts/valgrind_check.sh build
echo "hardening checks clean"
