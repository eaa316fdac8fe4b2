#!/usr/bin/env bash
# setup.sh LIST...: installs the Debian packages of the lists scripts/packages/LIST.txt
# (desktop, tests, windows, relay, package); skips apt when all are there.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
[ $# -gt 0 ] || { echo "usage: setup.sh LIST... (the names of scripts/packages/*.txt)" >&2; exit 2; }
files=()
for list in "$@"; do
  file="$top/scripts/packages/$list.txt"
  [ -f "$file" ] || { echo "setup: no package list $file" >&2; exit 2; }
  files+=("$file")
done
mapfile -t wanted < <(grep -h -v -E '^\s*(#|$)' "${files[@]}" | sort -u)
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get -o DPkg::Lock::Timeout=600 update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
