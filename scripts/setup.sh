#!/usr/bin/env bash
# Installs the Debian packages listed in packages.txt (skips apt when all are there).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$top/scripts/packages.txt")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get -o DPkg::Lock::Timeout=600 update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
