#!/usr/bin/env bash
# Writes a dpkg database (default build-aarch64-root.dpkg/) for the arm64 tree
# that scripts/aarch64_root.sh unpacked, from the packages its private apt
# downloaded. dpkg-shlibdeps needs one to turn the libraries the cross build
# links into arm64 package dependencies, and the tree has none: it was made
# with dpkg-deb -x, not installed.
#
# The file lists name the tree's files by their path on this machine
# (<root>/usr/lib/...), since those are the paths dpkg-shlibdeps finds the
# libraries at and then asks dpkg-query about.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(realpath -m "${1:-build-aarch64-root}")
archives="$root.apt/cache/archives"
db="$root.dpkg"
if [ ! -f "$root/.unpacked" ] || ! ls "$archives"/*.deb >/dev/null 2>&1; then
  echo "no unpacked tree with its packages at $root; run scripts/aarch64_root.sh first" >&2
  exit 1
fi
# The tree is unpacked afresh whenever its package list changes, and the
# lists name the tree where it was.
if [ -f "$db/.made" ] && [ "$db/.made" -nt "$root/.unpacked" ] && [ "$(cat "$db/.made")" = "$root" ]; then
  echo "dpkg database: $db (up to date)"
  exit 0
fi

rm -rf "$db"
mkdir -p "$db/info" "$db/updates" "$db/triggers"
echo 1 > "$db/info/format"
echo arm64 > "$db/arch"
ctrl=$(mktemp -d)
trap 'rm -rf "$ctrl"' EXIT

for deb in "$archives"/*.deb; do
  pkg=$(dpkg-deb -f "$deb" Package)
  arch=$(dpkg-deb -f "$deb" Architecture)
  # Multi-Arch: same packages keep their info files under pkg:arch.
  name=$pkg
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" != same ] || name="$pkg:$arch"

  dpkg-deb -f "$deb" | sed '1a Status: install ok installed' >> "$db/status"
  echo >> "$db/status"

  rm -rf "${ctrl:?}"/*
  dpkg-deb -e "$deb" "$ctrl/c"
  for f in shlibs symbols; do
    [ ! -f "$ctrl/c/$f" ] || cp "$ctrl/c/$f" "$db/info/$name.$f"
  done
  # Only a package with shlibs or symbols can become a dependency, and
  # listing a package's files means unpacking it again.
  if [ -f "$ctrl/c/shlibs" ] || [ -f "$ctrl/c/symbols" ]; then
    dpkg-deb --fsys-tarfile "$deb" | tar -t |
      awk -v root="$root" '{ sub(/^\./, ""); sub(/\/$/, ""); print root $0 }' > "$db/info/$name.list"
  else
    : > "$db/info/$name.list"
  fi
done
echo "$root" > "$db/.made"
echo "dpkg database: $db ($(grep -c '^Package: ' "$db/status") packages)"
