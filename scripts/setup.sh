#!/usr/bin/env bash
# Installs the Debian packages that Brisel needs to build, run and test (only the missing ones).
# Works as root, or through sudo for another user.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done <"$here/packages.txt"

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "setup: every package is installed"
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: these packages are missing: ${missing[*]}" >&2
  echo "setup: run this script as root, or install sudo, to install them" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
