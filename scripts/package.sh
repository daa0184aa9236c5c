#!/usr/bin/env bash
# Installs what is missing, then builds the Debian packages stendograph and stendograph-server
# (debian/, with dpkg-buildpackage) into build-package/ and prints their paths. The release
# build tree stays in build-package/tree, so that the next run builds only what changed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

out=build-package
cd "$top"
mkdir -p "$out"
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
rm -f "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes

# Everything it writes goes into build-package/, none into the checkout's parent folder.
dpkg-buildpackage -b --no-sign --post-clean -j"$(nproc)" \
    --buildinfo-option=-u"$out" --changes-option=-u"$out" \
    --buildinfo-file="$out/stendograph_${version}_${arch}.buildinfo" \
    --changes-file="$out/stendograph_${version}_${arch}.changes" >"$out/build.log" 2>&1 || {
    grep -E -B2 -A12 "error|Error" "$out/build.log" | tail -n 40 >&2
    echo "package.sh: the packages were not built; the whole log is $out/build.log" >&2
    exit 1
}
for package in stendograph stendograph-server; do
    deb="$top/$out/${package}_${version}_${arch}.deb"
    [ -f "$deb" ] || { echo "package.sh: $deb is missing" >&2; exit 1; }
    echo "$deb"
done
