#!/usr/bin/env bash
# Cross-builds both programs, the runtime layer and the tests for AArch64 into
# build-aarch64/ on an x86-64 Debian 12 machine. With --test it then runs every
# test under qemu.
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests=0
case "${1:-}" in
  "") ;;
  --test) run_tests=1 ;;
  *) echo "usage: scripts/cross_build.sh [--test]" >&2; exit 2 ;;
esac

packages=(
  crossbuild-essential-arm64 qemu-user-static debian-archive-keyring
  cmake python3 python3-numpy python3-onnx
)
bash scripts/apt_install.sh "${packages[@]}"

bash scripts/aarch64_root.sh build-aarch64-root
cmake -S . -B build-aarch64 -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" -DAARCH64_TARGET_ROOT="$PWD/build-aarch64-root"
cmake --build build-aarch64 -j"$(nproc)"

if [ "$run_tests" -eq 1 ]; then
  cd build-aarch64
  ctest --output-on-failure
fi
