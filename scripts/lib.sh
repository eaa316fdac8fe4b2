# Shared by the scripts in this folder: where things are and how to become root.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
