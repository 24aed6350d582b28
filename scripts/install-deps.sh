#!/usr/bin/env bash
# Installs the Debian packages listed in debian-packages.txt that are missing.
# As root it uses apt-get directly, otherwise sudo when that works without a
# password; failing both it names the packages to install and exits non-zero.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
missing=()
while read -r pkg; do
    case "$pkg" in ''|'#'*) continue ;; esac
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done < "$here/debian-packages.txt"

[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
    apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    apt_get=(sudo -n apt-get)
else
    echo "install-deps: these Debian packages are missing: ${missing[*]}" >&2
    echo "install-deps: run as root: apt-get install ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
