#!/usr/bin/env bash
# Installs what the build, the tests and the tools need (Debian 12), then
# configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config
  libopencv-dev libgtest-dev
  python3 python3-numpy python3-onnx python3-opencv python3-pil
  fonts-noto-cjk fonts-ipafont-gothic
  clang libclang-rt-14-dev valgrind
  chromium
  dpkg-dev file
  parallel openssh-server rsync
  plasma-workspace-wallpapers mate-backgrounds lomiri-wallpapers-20.04 python3-skimage
)
bash scripts/apt_install.sh "${packages[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
