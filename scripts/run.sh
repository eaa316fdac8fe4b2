#!/usr/bin/env bash
# run.sh: installs what is missing, starts cupsd and avahi-daemon when nothing runs
# them, builds, installs into ~/.local (the program in a folder of its own, a link on
# PATH, its menu entry, icons and systemd user unit) and starts olvaro-desktop.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
"$top/scripts/setup.sh"
"$top/scripts/start-services.sh"
prefix=${PREFIX:-$HOME/.local}
# The installed menu entry and user unit name the program by its path under the prefix.
"$top/scripts/build.sh" "$top/build" -DOLVARO_TESTS=OFF -DOLVARO_BENCH=OFF -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --install "$top/build" >/dev/null
export AVAHI_COMPAT_NOWARN=1
exec "$prefix/bin/olvaro-desktop" "$@"
