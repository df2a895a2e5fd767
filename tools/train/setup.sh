#!/usr/bin/env bash
# Installs what the training tools and the plate renderer need (Debian 12): the Python libraries,
# every Japanese face the renderer draws from, and the packages of background photographs of the
# photographed scenes. The lists are tools/synth/fontset.py's and tools/synth/scene.py's; tests keep
# them in step.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(
  python3 python3-numpy python3-opencv python3-pil python3-onnx python3-torch
  fonts-noto-cjk fonts-noto-cjk-extra fonts-ipafont-gothic fonts-ipaexfont-gothic fonts-takao-gothic
  fonts-vlgothic fonts-mplus fonts-motoya-l-cedar fonts-motoya-l-maruberi fonts-komatuna fonts-konatu
  fonts-horai-umefont fonts-umeplus fonts-umeplus-cl fonts-migmix fonts-morisawa-bizud-gothic
  fonts-sawarabi-gothic fonts-kouzan-mouhitsu
  plasma-workspace-wallpapers mate-backgrounds python3-skimage lomiri-wallpapers-20.04
)
bash scripts/apt_install.sh "${packages[@]}"
