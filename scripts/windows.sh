#!/usr/bin/env bash
# windows.sh [--test]: installs what is missing (scripts/packages/windows.txt), cross-builds
# GoogleTest and the Windows program (olvaro-desktop.exe) with mingw-w64 into
# build-windows/, and with --test runs the Windows tests under Wine in a fresh Wine prefix
# with no display, then the program's windows on a display of their own
# (tests/desktopwin/tray_test.sh).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
if [ "${1:-}" = "--test" ]; then
  # The tests also need the HTTPS relay of the Linux build.
  "$top/scripts/setup.sh" windows desktop tests
else
  "$top/scripts/setup.sh" windows
fi
dir="$top/build-windows"
toolchain="$top/cmake/mingw-w64-x86_64.cmake"
deps="$dir/_deps"

# GoogleTest from Debian's source package, built once with the same toolchain.
if [ ! -f "$deps/prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$deps/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/prefix" >/dev/null
  cmake --build "$deps/googletest"
  cmake --install "$deps/googletest" >/dev/null
fi
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOLVARO_WINDOWS_DEPS="$deps/prefix" -DOLVARO_BENCH=OFF >/dev/null
cmake --build "$dir"
[ "${1:-}" = "--test" ] || exit 0

# A prefix of our own, made afresh: nothing from an earlier run or another session counts.
export WINEPREFIX=$(mktemp -d /tmp/olvaro-wine.XXXXXX) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
wineboot -i
# Windows without a display: the null graphics driver still gives windows and GDI.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
# A crash ends the process instead of waiting in a debugger for nobody.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null
# Two HTTPS relays of the Linux build, each with an authority of its own; the tests trust
# the first one's. They are named "localhost": Wine checks a certificate's DNS names only,
# not its IP addresses. scripts/test.sh builds build/ first; run alone, this script makes
# a Linux build of its own with the tests and without the relay server and sender.
linux="$top/build"
if [ ! -f "$linux/build.ninja" ]; then
  linux="$deps/linux"
  cmake -S "$top" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOLVARO_TESTS=ON -DOLVARO_BENCH=OFF -DOLVARO_WITH_RELAY=OFF -DOLVARO_WITH_SENDER=OFF >/dev/null
fi
relay="$linux/tests/platform/windows_test_relay"
[ -x "$relay" ] || cmake --build "$linux" --target windows_test_relay
coproc TRUSTED { exec "$relay"; }
read -r trusted_port trusted_ca <&"${TRUSTED[0]}"
coproc UNTRUSTED { exec "$relay"; }
read -r untrusted_port _ <&"${UNTRUSTED[0]}"
export OLVARO_TEST_RELAY="https://localhost:$trusted_port" OLVARO_TEST_RELAY_CA="Z:$trusted_ca"
export OLVARO_TEST_UNTRUSTED_RELAY="https://localhost:$untrusted_port"
# A small file system for the full-disk case; mounting it needs root, as in CI.
small=$(mktemp -d /tmp/olvaro-small.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; umount "$small" 2>/dev/null || true; rmdir "$small"' EXIT
if mount -t tmpfs -o size=32m tmpfs "$small" 2>/dev/null; then export OLVARO_TEST_SMALL_DISK="Z:$small"; fi
ctest --test-dir "$dir" --output-on-failure

# The tray icon and pop-up window of the real program, under Wine's X11 driver on a
# private Xvfb display with a tray host, in a prefix of their own.
"$top/tests/desktopwin/tray_test.sh" "$dir"

# The installer, silently installed, upgraded and removed in a Wine prefix of its own.
"$top/tests/package/installer_test.sh" "$dir"
