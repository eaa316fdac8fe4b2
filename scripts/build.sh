#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures (once) and builds the whole tree with Ninja.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
dir=${1:-$top/build}; shift || true
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir"
