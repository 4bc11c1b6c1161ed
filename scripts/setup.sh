#!/usr/bin/env bash
# Installs whatever the build and the tests need and is not installed yet.
# Does nothing when every package of scripts/packages.txt is already present.
set -u
here=$(cd "$(dirname "$0")" && pwd)

missing=()
while read -r pkg; do
    pkg=${pkg%%#*}
    pkg=${pkg//[[:space:]]/}
    [ -z "$pkg" ] && continue
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done < "$here/packages.txt"

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
else
    echo "setup: cannot install ${missing[*]}: run as root or with password-less sudo" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get update -qq </dev/null >/dev/null; then
    echo "setup: apt-get update failed; cannot install ${missing[*]}" >&2
    exit 1
fi
if ! "${sudo[@]}" apt-get install -y -qq "${missing[@]}" </dev/null >/dev/null; then
    echo "setup: apt-get install failed for ${missing[*]}" >&2
    exit 1
fi
exit 0
