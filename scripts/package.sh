#!/usr/bin/env bash
# package.sh: builds the Debian package olvaro-desktop_<version>_<arch>.deb in
# build-package/ (the optimised build of build.sh of the desktop program alone, for /usr,
# with Debian's hardening flags) and prints its path. Install it with: apt-get install ./build-package/olvaro-desktop_*.deb
set -euo pipefail
source "$(dirname "$0")/lib.sh"
"$top/scripts/setup.sh" desktop package
dir="$top/build-package"
cd "$top"  # the flags map this folder's paths in the debugging data to "."
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# CMake reads no CPPFLAGS: the preprocessor's flags (fortification) go with the compiler's.
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
"$top/scripts/build.sh" "$dir" -DCMAKE_INSTALL_PREFIX=/usr "${desktop_only[@]}"
deb=$(cd "$dir" && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ -f "$deb" ] || { echo "package: cpack made no package" >&2; exit 1; }
echo "$deb"
