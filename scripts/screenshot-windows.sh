#!/usr/bin/env bash
# Regenerates docs/popup-windows.png, the README's picture of the Windows pop-up window:
# the real olvaro-desktop.exe under Wine on a private X display, shown by a click on its
# tray icon, with a CUPS test queue picked in the chooser (tests/desktopwin/tray_test.sh).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
"$top/scripts/start-services.sh" --test-queues
"$top/scripts/windows.sh"
"$top/tests/desktopwin/tray_test.sh" "$top/build-windows" "$top/docs/popup-windows.png"
echo "wrote $top/docs/popup-windows.png"
