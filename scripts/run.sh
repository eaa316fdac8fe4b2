#!/usr/bin/env bash
# run.sh: installs what the desktop program needs (scripts/packages/desktop.txt) when it
# is missing, starts cupsd and avahi-daemon when nothing runs them, builds the program
# alone in build-desktop/, installs it into ~/.local (the program in a folder of its own,
# a link on PATH, its menu entry, icons and systemd user unit) and starts olvaro-desktop.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
"$top/scripts/setup.sh" desktop
"$top/scripts/start-services.sh"
prefix=${PREFIX:-$HOME/.local}
dir="$top/build-desktop"
# The installed menu entry and user unit name the program by its path under the prefix.
"$top/scripts/build.sh" "$dir" "${desktop_only[@]}" -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --install "$dir" >/dev/null
export AVAHI_COMPAT_NOWARN=1
exec "$prefix/bin/olvaro-desktop" "$@"
