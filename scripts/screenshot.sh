#!/usr/bin/env bash
# Regenerates docs/popup.png, the README's picture of the pop-up window, with the
# program's own window rendered off screen. The printer list is whatever CUPS offers;
# the first printer is made the picture's default so the chooser shows a name.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build="${OLVARO_BUILD_DIR:-$top/build-desktop}"
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${desktop_only[@]}" >/dev/null
cmake --build "$build" --target popupscreenshot
runtime="$(mktemp -d)"
trap 'rm -rf "$runtime"' EXIT
mkdir -p "$top/docs"
mkdir -p "$runtime/home"
first_printer=$(lpstat -e 2>/dev/null | head -n 1 || true)
if [ -n "$first_printer" ]; then HOME="$runtime/home" lpoptions -d "$first_printer" >/dev/null; fi
# A private home keeps the user's stored printer preference and settings out of it.
HOME="$runtime/home" XDG_CONFIG_HOME="$runtime/home/.config" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen "$build/desktop/screenshot/popupscreenshot" "$top/docs/popup.png"
echo "wrote $top/docs/popup.png"
