#!/usr/bin/env bash
# test.sh [--sanitize]: installs what is missing (every list in scripts/packages/),
# starts cupsd, avahi-daemon and D-Bus with the test queues, builds everything, and runs
# every test, then builds the Debian package and installs and removes it on this machine.
# --sanitize builds with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/ and runs the suite alone.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
"$top/scripts/setup.sh" desktop tests relay windows package
"$top/scripts/start-services.sh" --test-queues
# Named, not left to the defaults: a folder configured earlier with fewer parts keeps them.
everything=(-DOLVARO_TESTS=ON -DOLVARO_WITH_RELAY=ON -DOLVARO_WITH_SENDER=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir="$top/build-sanitize"; opts=("${everything[@]}" -DOLVARO_SANITIZE=ON -DOLVARO_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  dir="$top/build"; opts=("${everything[@]}" -DOLVARO_BENCH=ON)
fi
export AVAHI_COMPAT_NOWARN=1
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$(mktemp -d /tmp/olvaro-runtime.XXXXXX)
  chmod 0700 "$XDG_RUNTIME_DIR"
fi
"$top/scripts/build.sh" "$dir" "${opts[@]}"
ctest --test-dir "$dir" --output-on-failure -j 2
# Not for --sanitize: the Debian package, and the Windows build of the same sources with
# its tests run under Wine.
if [ "${1:-}" != "--sanitize" ]; then
  "$top/tests/package/package_test.sh"
  "$top/scripts/windows.sh" --test
fi
