#!/usr/bin/env bash
# Builds the Debian package and meets it as a user does: lintian finds nothing wrong,
# apt-get installs it with what it depends on, its menu entry, AppStream data and user
# unit validate, the program started by the menu entry and by the unit answers /info,
# and remove and purge leave none of its files behind. Installs on this machine (root).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
source "$top/scripts/lib.sh"
apt() { as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq "$@" >/dev/null; }

deb=$("$top/scripts/package.sh" | tail -n 1)
package=$(dpkg-deb -f "$deb" Package)
work=$(mktemp -d /tmp/olvaro-package.XXXXXX)
program=
installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; }
cleanup() {
  [ -z "$program" ] || kill "$program" 2>/dev/null || true
  if installed; then apt purge "$package"; fi
  rm -rf "$work"
}
trap cleanup EXIT

source "$top/tests/package/checks.sh"

# The package's paths, which of them a system without it already has, and what lies
# beside them in the folders it shares with other packages.
mapfile -t paths < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\.||' -e 's|/$||' | grep .)
present() { for p in "${paths[@]}"; do if [ -e "$p" ] || [ -L "$p" ]; then echo "$p"; fi; done; }
neighbours() {  # caches that triggers of other packages rebuild are not the package's
  for p in $1; do if [ -d "$p" ]; then find "$p" -mindepth 1 -maxdepth 1; fi; done | grep -v '\.cache$' | sort
}
if installed; then echo "note: $package was installed; purging it first"; apt purge "$package"; fi
before=$(present)
beside_before=$(neighbours "$before")

check "lintian reports no error or warning" lintian --fail-on error,warning "$deb"

apt install "$deb"
check "apt-get installs the package" installed

file_of() { dpkg -L "$package" | grep -m1 "$1"; }
desktop=$(file_of '^/usr/share/applications/.*\.desktop$')
unit=$(file_of '/systemd/user/.*\.service$')
check "the menu entry is valid" desktop-file-validate "$desktop"
icon_installed() { dpkg -L "$package" | grep -q "/icons/hicolor/[^/]*/apps/$(sed -n 's/^Icon=//p' "$desktop")\.png$"; }
check "the menu entry's icon is installed" icon_installed
check "the AppStream data is valid" appstreamcli validate --no-net "$(file_of '^/usr/share/metainfo/')"
check "the systemd user unit is valid" env XDG_RUNTIME_DIR="$work" systemd-analyze verify --user "$unit"

# Every library the program needs comes from a package that Depends names.
depends_on_libraries() {
  local binary depends lib owners
  binary=$(readlink -f /usr/bin/olvaro-desktop)
  depends=$(dpkg-query -W -f='${Depends}' "$package" | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//')
  for lib in $(objdump -p "$binary" | awk '$1 == "NEEDED" {print $2}'); do
    owners=$(dpkg -S "*/$lib" 2>/dev/null | cut -d: -f1 | tr ', ' '\n\n' | grep . | sort -u)
    grep -qxF -f <(echo "$owners") <<<"$depends" || { echo "$lib (of ${owners:-no package}) is not in Depends" >&2; return 1; }
  done
}
check "Depends names the packages of every linked library" depends_on_libraries

port=$(free_port)
closed=$(free_port)  # nothing listens here: the relay and update server are unreachable
mkdir -p -m 0700 "$work/home" "$work/config/Vostrel" "$work/runtime" "$work/tmp"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\n"Port"=dword:%08x\n' \
  "$port" >"$work/config/Vostrel/OlvaroDesktop.reg"

# Starts a command line from an installed file as the desktop or systemd would, without
# a display, and checks that the program answers /info as the installed version.
answers_info() {
  local -a argv
  read -r -a argv <<<"$1"
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
    TMPDIR="$work/tmp" OLVARO_API_URL="https://127.0.0.1:$closed" OLVARO_UPDATE_URL="http://127.0.0.1:$closed" \
    "${argv[@]}" 2>"$work/stderr" &
  program=$!
  local status= tries=0
  until [ "$status" = 204 ] || [ $tries -ge 100 ] || ! kill -0 "$program" 2>/dev/null; do
    sleep 0.2; tries=$((tries + 1))
    status=$(curl -s -o /dev/null -D "$work/headers" -w '%{http_code}' "http://127.0.0.1:$port/info" || true)
  done
  kill -TERM "$program" 2>/dev/null || true
  for tries in $(seq 50); do kill -0 "$program" 2>/dev/null && sleep 0.2; done
  kill -KILL "$program" 2>/dev/null && echo "the program did not stop on SIGTERM" >&2
  local code=0
  wait "$program" || code=$?
  program=
  [ "$status" = 204 ] && [ $code -eq 0 ] &&
    grep -qixF "X-Desktop-App-Version: $(dpkg-deb -f "$deb" Version)"$'\r' "$work/headers" ||
    { echo "status '$status', exit $code; the program said:" >&2; cat "$work/stderr" >&2; return 1; }
}
exec_line() { sed -n "s/^$2=//p" "$1" | head -n 1 | sed -E 's/%[a-zA-Z]//g; s/^[-@+!:]+//'; }
check "the menu entry's command answers /info" answers_info "$(exec_line "$desktop" Exec)"
check "the user unit's command answers /info" answers_info "$(exec_line "$unit" ExecStart)"

leaves_nothing() { [ "$(present)" = "$before" ] && [ "$(neighbours "$before")" = "$beside_before" ]; }
apt remove "$package"
check "remove leaves none of the package's files" leaves_nothing
apt install "$deb"
apt purge "$package"
purged() { leaves_nothing && ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv not-installed; }
check "purge after install leaves none of its files and no record" purged

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
