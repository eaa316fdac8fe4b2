#!/usr/bin/env bash
# installer_test.sh <build-windows folder>: meets the Windows installer as a user does, in
# a fresh Wine prefix. A silent install puts the program, its Start-menu entry, uninstall
# entry and start at log-on in place; the program answers /info; upgrades while it runs
# replace and restart it and keep the start at log-on as chosen; the uninstaller stops the
# running program (a main window that takes WM_CLOSE ends by itself) and leaves the
# prefix's files and registry as before, but for the settings that only /REMOVESETTINGS
# removes too.
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
source "$top/tests/package/checks.sh"
setup=$(echo "$build"/OlvaroDesktop-*-setup.exe)
version=${setup##*/OlvaroDesktop-} version=${version%-setup.exe}
standin="$build/tests/win_standin.exe"
[ -f "$setup" ] && [ -f "$standin" ] || { echo "installer: build $build first" >&2; exit 1; }

# No display; no Mono or Gecko installs, and no Linux menu entries made from the Start menu.
export WINEPREFIX=$(mktemp -d /tmp/olvaro-setup.XXXXXX) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d /tmp/olvaro-setup-work.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX" "$work"' EXIT
wineboot -i 2>/dev/null
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null

# The prefix, one line per folder, file (with its hash) and registry value, once every
# Wine process has ended and the registry is on disk. Left out is what Wine rewrites by
# itself (the display devices and network cards it finds at each start, the state of the
# CUPS queues it mirrors, console settings) and NSIS's copy of the uninstaller in %TEMP%,
# which it can only ask to be deleted at the next restart.
snapshot() {
  timeout 60 wineserver -w || { echo "  Wine processes still run" >&2; return 1; }
  {
    (cd "$WINEPREFIX" && find drive_c \( -type d -printf '%p/\n' \) -o \( -type l -printf '%p -> %l\n' \) &&
      find drive_c -type f -exec md5sum {} + | sed -E 's/^([0-9a-f]+)  (.*)$/\2 \1/')
    for hive in system user userdef; do
      awk -v hive="$hive" '/^\[/ {sub(/\] [0-9]+$/, "]"); key = hive " " $0; print key; next}
                           /^(#|$)/ {next} {print key " " $0}' "$WINEPREFIX/$hive.reg"
    done
  } | LC_ALL=C sort | grep -v -E '^system \[System\\\\CurrentControlSet\\\\Control\\\\(Class|Print\\\\Printers)\\|'\
'^system \[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\NetworkCards|^user \[Console\]|'\
'PendingFileRenameOperations|^drive_c/users/[^/]+/Temp/~nsu[^/]*\.tmp/'
}
# Its wait also restarts Wine, which has the null graphics driver from here on.
snapshot >"$work/before"

# reg_value 'HKCU\KEY' NAME: the data of one value, as reg query prints it.
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 \{2,\}REG_[A-Z_]* \{2,\}//p"; }
same() { [ "$1" = "$2" ] || { echo "  got '$1', want '$2'" >&2; return 1; }; }
unix() { winepath -u "$1" 2>/dev/null; }
folder="$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')\\Programs\\Olvaro Desktop"
program="$folder\\olvaro-desktop.exe"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OlvaroDesktop'
autorun() { reg_value 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' OlvaroDesktop; }
# The uninstaller as Windows' silent removal runs it, plus the switches given.
uninstall() { local command; command=$(reg_value "$uninstall_key" QuietUninstallString)
  local exe=${command#\"}; wine "$(unix "${exe%%\"*}")" ${command##*\" } "$@"; }

# The program answers on a port of its own and never reaches past loopback.
port=$(free_port) closed=$(free_port)
export OLVARO_API_URL="https://127.0.0.1:$closed" OLVARO_UPDATE_URL="http://127.0.0.1:$closed"
wine reg add 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v Port /t REG_DWORD /d "$port" /f >/dev/null
answers_info() {  # waits up to 20 s for /info to answer as this version
  for _ in $(seq 100); do
    curl -s -o /dev/null -D "$work/headers" "http://127.0.0.1:$port/info" &&
      { grep -qixF "X-Desktop-App-Version: $version"$'\r' "$work/headers"; return; }
    sleep 0.2
  done
  echo "  /info did not answer; the program said: $(cat "$work/program.log")" >&2; return 1
}
ended() {  # ended PID: the process ends within 30 s
  for _ in $(seq 150); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.2; done
  echo "  process $1 still runs" >&2; return 1
}
icon_images() {  # the pictures of an .ico, by their hashes
  local pictures; pictures=$(mktemp -d -p "$work")
  icotool -x -o "$pictures" "$1" && (cd "$pictures" && md5sum -- * | cut -d' ' -f1 | sort)
}
has_resources() {  # the version and the icon Explorer shows
  local strings; strings=$(wrestool -x --raw --type=16 "$1" | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -c '[:print:]' ' ')
  grep -q "ProductVersion *$version " <<<"$strings" && grep -q "ProductName *Olvaro Desktop " <<<"$strings" &&
    wrestool -x --type=14 -o "$work/icon.ico" "$1" 2>/dev/null &&
    same "$(icon_images "$work/icon.ico" 2>/dev/null)" "$(icon_images "$top/desktopcore/artwork/olvaro-desktop.ico")"
}

wine "$setup" /S
for file in "$setup" "$(unix "$program")" "$(unix "$folder\\uninstall.exe")"; do
  check "${file##*/} carries the version and icon" has_resources "$file"
done
check "the installed program is the one built" cmp -s "$(unix "$program")" "$build/app/olvaro-desktop.exe"
shortcut=$(unix "$(wine cmd /c 'echo %APPDATA%' | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\Olvaro Desktop.lnk")
check "the Start menu has an entry for the program" grep -qF "$program" <(strings -el "$shortcut")
check "the uninstall entry names the program, version, icon and folder" same \
  "$(for v in DisplayName DisplayVersion DisplayIcon InstallLocation; do reg_value "$uninstall_key" $v; done)" \
  "$(printf '%s\n' "Olvaro Desktop" "$version" "$program,0" "$folder")"
check "a first install starts the program at log-on" same "$(autorun)" "\"$program\" /autorun"

wine "$(unix "$program")" 2>"$work/program.log" &
first=$!
check "the installed program answers /info" answers_info
wine "$setup" /S /NOAUTORUN
check "an upgrade while it runs ends the running program" ended "$first"
check "and starts the new one, which answers /info" answers_info
check "/NOAUTORUN removes the start at log-on" same "$(autorun)" ""
wine "$setup" /S
check "an upgrade keeps the start at log-on as it was" same "$(autorun)" ""
check "and leaves the program running" answers_info

# The uninstaller runs from a copy in %TEMP% and returns at once. A program it leaves
# running is ended here, so that the remaining checks can go on.
uninstall
program_stopped() { timeout 60 wineserver -w && ! curl -s -o /dev/null "http://127.0.0.1:$port/info" || ! wineserver -k; }
check "the uninstaller stops the running program" program_stopped
kept_only_settings() {  # the settings key with its "Port", and the event log
  local changes; changes=$(diff "$work/before" <(snapshot) | grep '^[<>]' || true)
  grep -q '^> user \[Software\\\\Vostrel\\\\OlvaroDesktop\] "Port"=' <<<"$changes" && ! grep -v -E \
    '^> (user \[Software\\\\Vostrel(\\\\OlvaroDesktop)?\]|drive_c/users/[^/]+/AppData/Local/OlvaroDesktop/(olvaro-desktop\.log.*)?$)' \
    <<<"$changes" >&2
}
check "uninstalling leaves the prefix as before, but for the settings" kept_only_settings

wine "$setup" /S
export OLVARO_STANDIN_LOG=$(winepath -w "$work/standin.log" 2>/dev/null)
wine "$standin" --main-window &
standin_pid=$!
for _ in $(seq 100); do grep -q window "$work/standin.log" 2>/dev/null && break; sleep 0.2; done
uninstall /REMOVESETTINGS
closed_cleanly() {
  local code=0
  ended "$standin_pid" && { wait "$standin_pid" || code=$?; } && [ "$code" -eq 0 ] && grep -qx WM_CLOSE "$work/standin.log" ||
    { echo "  exit $code; the stand-in logged: $(cat "$work/standin.log" 2>/dev/null)" >&2; return 1; }
}
check "the uninstaller ends a main window with WM_CLOSE" closed_cleanly
check "/REMOVESETTINGS leaves the prefix as it was before" diff "$work/before" <(snapshot)

echo "installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
