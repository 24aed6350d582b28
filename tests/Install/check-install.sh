#!/usr/bin/env bash
# check-install.sh BUILD_DIR PREFIX: installs the build into PREFIX (emptied
# first) and checks what a desktop needs from it: the programs, which run from
# there; a valid desktop entry; the icons in hicolor; the man pages.
set -euo pipefail
build=$1 prefix=$2
fail() { echo "check-install: $*" >&2; exit 1; }

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/vantrel bin/vantrelctl bin/vantrelctl-desktop; do
    [[ -x "$prefix/$file" ]] || fail "$file is missing or not executable"
done
for file in share/applications/vantrel.desktop \
            share/icons/hicolor/scalable/apps/vantrel.svg share/icons/hicolor/scalable/status/vantrel-warning.svg \
            share/icons/hicolor/48x48/apps/vantrel.png share/man/man1/vantrel.1 share/man/man1/vantrelctl.1; do
    [[ -s "$prefix/$file" ]] || fail "$file is missing or empty"
done

desktop-file-validate "$prefix/share/applications/vantrel.desktop" || fail "the desktop entry is not valid"
icon=$(sed -n 's/^Icon=//p' "$prefix/share/applications/vantrel.desktop")
[[ -s "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "the desktop entry's icon '$icon' is not installed"
for page in vantrel vantrelctl; do
    # man's warnings (unknown macros, bad escapes) go to standard error.
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [[ -z "$warnings" ]] || fail "$page.1: $warnings"
done

# Run from the prefix: no path into the build tree may be needed.
version=$(env -u DISPLAY "$prefix/bin/vantrel" --version)
[[ "$version" =~ ^vantrel\ [0-9]+\.[0-9]+ ]] || fail "vantrel --version printed '$version'"
# vantrelctl hands this command to vantrelctl-desktop beside it.
env -u DISPLAY "$prefix/bin/vantrelctl" symbols --backend sim | grep -q . || fail "vantrelctl could not reach vantrelctl-desktop"
echo "check-install: $prefix holds a working installation ($version)"
