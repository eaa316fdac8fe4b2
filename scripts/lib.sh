# Shared by the scripts in this folder: where things are and how to become root.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
# CMake options of a build of the desktop program alone: no tests, benchmarks, relay or sender.
desktop_only=(-DOLVARO_TESTS=OFF -DOLVARO_BENCH=OFF -DOLVARO_WITH_RELAY=OFF -DOLVARO_WITH_SENDER=OFF)
