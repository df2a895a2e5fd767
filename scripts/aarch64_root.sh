#!/usr/bin/env bash
# Unpacks Debian 12's arm64 OpenCV, GoogleTest and their run-time libraries into
# a private tree (default build-aarch64-root/) for the cross build to link
# against and for qemu to run from.
#
# Why not `dpkg --add-architecture arm64` and install them beside the native
# packages: libopencv-imgcodecs406:arm64 needs libgdal32:arm64, which is not
# co-installable with libgdal32:amd64, so apt would remove the native OpenCV.
# Here a private apt (the system's package sources, but its own lists, cache
# and status) downloads the packages and dpkg-deb unpacks them; the system's
# packages are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(realpath -m "${1:-build-aarch64-root}")
packages=(libopencv-dev libgtest-dev libc6 libstdc++6)
# The C library's and the kernel's headers come from the cross compiler: the tree's own ones (pulled in by
# OpenCV's -dev packages) can be a later stable update whose pthread.h no longer matches the compiler's bits/.
skipped=(libc6-dev linux-libc-dev)
stamp="$root/.unpacked"
stamp_text="${packages[*]} without ${skipped[*]}"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ]; then
  echo "aarch64 root: $root (already unpacked)"
  exit 0
fi

apt_dir="$root.apt"
rm -rf "$root" "$apt_dir/cache/archives"
mkdir -p "$root" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/preferences.d"
: > "$apt_dir/status"

apt_opts=(
  -o APT::Architecture=arm64 -o APT::Architectures::=arm64
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::State::status="$apt_dir/status"
  -o Dir::Cache="$apt_dir/cache" -o Dir::Etc::preferences=/dev/null
  -o Dir::Etc::preferencesparts="$apt_dir/preferences.d" -o Acquire::Languages=none
  -o Debug::NoLocking=1
)
[ "$(id -u)" -ne 0 ] || apt_opts+=(-o APT::Sandbox::User=root)

apt-get "${apt_opts[@]}" -q update
apt-get "${apt_opts[@]}" -q -y --no-install-recommends --download-only install "${packages[@]}"
for deb in "$apt_dir"/cache/archives/*.deb; do
  name=$(basename "$deb")
  for skip in "${skipped[@]}"; do
    [ "${name%%_*}" != "$skip" ] || continue 2
  done
  dpkg-deb -x "$deb" "$root"
done

# Absolute links point into the host's /; make them point inside the tree.
find "$root" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
  ln -sfnr "$root$(readlink "$link")" "$link"
done
# BLAS and LAPACK are reached through update-alternatives links, which only
# the packages' install scripts would make.
lib="$root/usr/lib/aarch64-linux-gnu"
for alt in blas lapack; do
  for so in "$lib/$alt"/lib*.so*; do
    [ -e "$so" ] || continue
    [ -e "$lib/$(basename "$so")" ] || ln -sn "$alt/$(basename "$so")" "$lib/$(basename "$so")"
  done
done
echo "$stamp_text" > "$stamp"
echo "aarch64 root: $root ($(ls "$apt_dir"/cache/archives/*.deb | wc -l) packages)"
