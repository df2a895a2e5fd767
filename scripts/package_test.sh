#!/usr/bin/env bash
# Checks what the install rules and the packages ship:
#   1. cmake --install into a staging directory; the sample set from there
#      with the built-in defaults reads 12 of 12, and the other two programs run;
#   2. the amd64 .deb (and .tar.gz) from build/: apt-get installs it, the sample
#      set runs from /usr/share/platebench, apt-get purges it and none of its
#      files is left;
#   3. the arm64 .deb from build-aarch64/: unpacked, its platebench reads one
#      case under qemu.
# build/ and build-aarch64/ are reused as scripts/test.sh and
# scripts/cross_build.sh leave them; they are made only when missing.
# Installs and removes a package on this machine: needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# dpkg-shlibdeps for the dependencies; CPack looks for file before it.
bash scripts/apt_install.sh dpkg-dev file

work=$(mktemp -d)
installed_by_us=0
cleanup() {
  if [ "$installed_by_us" -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y -q platebench >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "package test: $*" >&2
  exit 1
}
stage_start=$SECONDS
timings=()
lap() {
  timings+=("$1: $((SECONDS - stage_start))s")
  echo "package test: $1 done"
  stage_start=$SECONDS
}

# expect_final <stdout file> <frames>: every frame and group correct.
expect_final() {
  grep -qx "frame_total=$2 frame_correct=$2 frame_check_or_failed=0" "$1" && grep -q " group_check_or_failed=0$" "$1" ||
    fail "expected $2 of $2 frames correct, got: $(grep -E '^(frame|group)_total=' "$1" || echo 'no final block')"
}

# cpack_out <build dir> <generator>: runs cpack, prints the file it wrote.
cpack_out() {
  (cd "$1" && cpack -G "$2") > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack -G $2 in $1"; }
  sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$work/cpack.log"
}

[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
lap "native build"

# 1. Staging install.
stage="$work/stage"
DESTDIR="$stage" cmake --install build --prefix /usr/local > /dev/null
share="$stage/usr/local/share/platebench"
(cd "$share" && PATH="$stage/usr/local/bin:$PATH" platebench > "$work/stage.out" 2> "$work/stage.err") ||
  { tail -5 "$work/stage.err" >&2; fail "platebench from the staging tree failed"; }
expect_final "$work/stage.out" 12
"$stage/usr/local/bin/platereport" "$share/output/v21_product_validation" > /dev/null ||
  fail "platereport on the staged run"
"$stage/usr/local/bin/cornercheck" "$share/models/rknn/plate_corner.rknn" \
    "$share/samples/real_lpr/images/g001_f1.jpg" "$work/cornercheck" > /dev/null ||
  fail "cornercheck from the staging tree"
lap "staging install and sample set"

# 2. amd64 packages.
deb=$(cpack_out build DEB)
tgz=$(cpack_out build TGZ)
[ -f "$deb" ] && [ -f "$tgz" ] || fail "cpack wrote no package in build/"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "$deb is not amd64"
dpkg-deb -f "$deb" Depends | grep -q 'libopencv-core[0-9]' || fail "$deb does not depend on OpenCV"
# The archive holds the same files as the package, under one top folder.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' | sort > "$work/deb.files"
tar -tzf "$tgz" | grep -v '/$' | sed 's|^[^/]*/||' | sort > "$work/tgz.files"
diff -u "$work/deb.files" "$work/tgz.files" || fail "the .tar.gz and the .deb hold different files"
lap "amd64 packages"

if dpkg-query -W -f='${Status}' platebench 2>/dev/null | grep -q "installed"; then
  fail "platebench is already installed here; remove it before this test"
fi
installed_by_us=1
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$deb" > "$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install $deb"; }
[ "$(command -v platebench)" = /usr/bin/platebench ] || fail "platebench is not /usr/bin/platebench"
(cd /usr/share/platebench && platebench --output-dir "$work/deb_run" > "$work/deb.out" 2> "$work/deb.err") ||
  { tail -5 "$work/deb.err" >&2; fail "installed platebench failed"; }
expect_final "$work/deb.out" 12
dpkg-query -L platebench > "$work/deb.list"
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y -q platebench > "$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get remove --purge platebench"; }
installed_by_us=0
! dpkg-query -W platebench > /dev/null 2>&1 || fail "dpkg still knows platebench after the purge"
# Folders shared with other packages (/usr/bin, /usr/share/doc) stay.
left=()
while IFS= read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  [ -d "$path" ] && dpkg-query -S "$path" > /dev/null 2>&1 && continue
  left+=("$path")
done < "$work/deb.list"
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"
lap "amd64 install, run, purge"

# 3. arm64 package, run under qemu from the tree it was linked against.
# cpack builds what the build tree lacks; only a missing tree is made here.
[ -f build-aarch64/CMakeCache.txt ] || bash scripts/cross_build.sh
bash scripts/aarch64_dpkg_db.sh build-aarch64-root > /dev/null
lap "arm64 dpkg database"
deb=$(cpack_out build-aarch64 DEB)
tgz=$(cpack_out build-aarch64 TGZ)
[ -f "$deb" ] && [ -f "$tgz" ] || fail "cpack wrote no package in build-aarch64/"
[ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || fail "$deb is not arm64"
dpkg-deb -f "$deb" Depends | grep -q 'libopencv-core[0-9]' || fail "$deb does not depend on OpenCV"
dpkg-deb -x "$deb" "$work/arm64"
share="$work/arm64/usr/share/platebench"
head -n 2 "$share/samples/real_lpr/real_lpr_expected.csv" > "$work/one_case.csv"
(cd "$share" && qemu-aarch64-static -L "$repo/build-aarch64-root" "$work/arm64/usr/bin/platebench" \
    --input-list "$work/one_case.csv" --output-dir "$work/arm64_run" > "$work/arm64.out" 2> "$work/arm64.err") ||
  { tail -5 "$work/arm64.err" >&2; fail "the arm64 platebench under qemu failed"; }
expect_final "$work/arm64.out" 1
lap "arm64 packages and one case under qemu"

printf '  %s\n' "${timings[@]}"
echo "package tests passed in ${SECONDS}s"
