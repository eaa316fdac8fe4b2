#!/usr/bin/env bash
# Redraws the desktop's artwork (desktopcore/artwork/*.png, shared by both faces) with the project's own program.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${OLVARO_BUILD_DIR:-$top/build-desktop}"
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target drawartwork
QT_QPA_PLATFORM=offscreen "$build/desktop/artwork/drawartwork" "$top/desktopcore/artwork"
