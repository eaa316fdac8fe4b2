#!/usr/bin/env bash
# run.sh: installs what is missing, starts cupsd and avahi-daemon when nothing runs
# them, builds, installs into ~/.local (the program in a folder of its own, a link on
# PATH) and starts olvaro-desktop.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
"$top/scripts/setup.sh"
"$top/scripts/start-services.sh"
"$top/scripts/build.sh" "$top/build" -DOLVARO_TESTS=OFF -DOLVARO_BENCH=OFF
prefix=${PREFIX:-$HOME/.local}
cmake --install "$top/build" --prefix "$prefix" >/dev/null
export AVAHI_COMPAT_NOWARN=1
exec "$prefix/bin/olvaro-desktop" "$@"
