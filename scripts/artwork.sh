#!/usr/bin/env bash
# Redraws the desktop's artwork (desktopcore/artwork/*.png, shared by both faces) with the project's own program.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build="${OLVARO_BUILD_DIR:-$top/build-desktop}"
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${desktop_only[@]}" >/dev/null
cmake --build "$build" --target drawartwork
QT_QPA_PLATFORM=offscreen "$build/desktop/artwork/drawartwork" "$top/desktopcore/artwork"

# The Windows program's icon, from the same drawing at the sizes Explorer and the Start
# menu ask for; the largest stays PNG inside the .ico, as Windows expects at 256 px.
sizes=$(mktemp -d)
trap 'rm -rf "$sizes"' EXIT
QT_QPA_PLATFORM=offscreen "$build/desktop/artwork/drawartwork" --icons "$sizes"
icon() { echo "$sizes/$1x$1/apps/olvaro-desktop.png"; }
icotool --create --output="$top/desktopcore/artwork/olvaro-desktop.ico" \
  "$(icon 16)" "$(icon 24)" "$(icon 32)" "$(icon 48)" --raw="$(icon 256)"
