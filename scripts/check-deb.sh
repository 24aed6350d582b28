#!/usr/bin/env bash
# check-deb.sh BUILD_DIR: builds the Debian package from BUILD_DIR with cpack,
# unpacks it into a scratch root with dpkg -x and runs `vantrel --version`
# from there. Prints the package's path and its Depends line.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$build/package" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls -t "$build"/package/vantrel_*.deb | head -n1)
dpkg-deb --field "$deb" Package Version Depends
dpkg -x "$deb" "$scratch/root"
for file in usr/bin/vantrel usr/bin/vantrelctl usr/bin/vantrelctl-desktop usr/share/applications/vantrel.desktop \
            usr/share/man/man1/vantrel.1 usr/share/icons/hicolor/scalable/apps/vantrel.svg; do
    [[ -e "$scratch/root/$file" ]] || { echo "check-deb: $file is not in the package" >&2; exit 1; }
done
env -u DISPLAY "$scratch/root/usr/bin/vantrel" --version
echo "check-deb: $deb"
