#!/usr/bin/env bash
# Builds the Debian package the Debian way, with dpkg-buildpackage -b from debian/, on a copy of
# the source tree in build/deb/lumara, so that the package and its .buildinfo and .changes land
# in build/deb/ (dpkg-buildpackage writes them beside the tree it builds). The build time is
# debian/changelog's date (SOURCE_DATE_EPOCH), so two builds give the same package.
# Usage: scripts/package.sh [dpkg-buildpackage options]
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/deb
tree="$out/lumara"
rm -rf "$out"
mkdir -p "$tree"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$tree"
(cd "$tree" && dpkg-buildpackage -b -us -uc "$@")
ls "$out"/*.deb
