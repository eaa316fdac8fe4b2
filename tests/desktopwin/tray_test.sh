#!/usr/bin/env bash
# tray_test.sh BUILD [SCREENSHOT]: the real olvaro-desktop.exe of the Windows build BUILD
# under Wine's X11 driver, on a private Xvfb display with trayer as the tray host and a
# fresh Wine prefix of its own. xdotool clicks the docked tray icon, the chooser, a
# printer and the menu; windowprobe.exe reads the windows with Win32 calls. Needs the
# CUPS queues OlvaroTestA/B (scripts/start-services.sh --test-queues). With SCREENSHOT,
# the shown pop-up is also saved there as a PNG. Ends with "N passed, N failed".
set -uo pipefail
build=$1
screenshot=${2:-}
exe="$build/app/olvaro-desktop.exe"
probe="$build/tests/desktopwin/windowprobe.exe"
source "$(dirname "$0")/../package/checks.sh"

# Waits up to 30 s for COMMAND to succeed.
wait_for() {
  for _ in $(seq 150); do "$@" && return 0; sleep 0.2; done
  return 1
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}

for tool in Xvfb trayer xdotool xwininfo wine lpstat; do
  command -v "$tool" >/dev/null || { echo "FAILED: $tool is not installed (see scripts/packages/windows.txt)"; failed=1; finish; }
done
for queue in OlvaroTestA OlvaroTestB; do
  lpstat -p "$queue" >/dev/null 2>&1 || { echo "FAILED: no CUPS queue $queue (scripts/start-services.sh --test-queues)"; failed=1; finish; }
done

work=$(mktemp -d /tmp/olvaro-tray.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
cleanup() {
  wineserver -k 2>/dev/null
  kill "$tray" "$xvfb" 2>/dev/null
  wait "$tray" "$xvfb" 2>/dev/null
  rm -rf "$work"
}
tray=
trap cleanup EXIT
wait_for test -s "$work/display" || { echo "FAILED: Xvfb did not start"; failed=1; finish; }
export DISPLAY=":$(cat "$work/display")"
trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 &
tray=$!
wait_for sh -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"'
wineboot -i >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1

probe() { wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }
state_is() { [ "$(probe state "${2:-}")" = "$1" ]; }
# The docked icon: the window Wine's explorer puts into trayer's panel; "X Y" of its middle.
icon_position() {
  local panel icon
  panel=$(xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}')
  icon=$(xwininfo -tree -id "$panel" 2>/dev/null | awk '/"explorer.exe"/ {print $1; exit}')
  [ -n "$icon" ] || return 1
  xwininfo -id "$icon" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width/ {w=$2} /Height/ {h=$2}
                            END {print x + int(w / 2), y + int(h / 2)}'
}
icon_docked() { icon_position >/dev/null; }
# Clicks the middle of a part of the pop-up (windowprobe point PART [N]) with the left button.
click_popup() {
  local left top x y
  read -r left top _ < <(probe geometry)
  read -r x y < <(probe point "$@")
  xdotool mousemove $((left + x)) $((top + y)) click 1
}
ended() { ! kill -0 "$1" 2>/dev/null; }

# The program answers on a port of its own.
port=$(free_port)
wine reg add 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v Port /t REG_DWORD /d "$port" /f >/dev/null 2>&1
wine "$exe" >/dev/null 2>&1 &
program=$!
check "the main window exists, hidden" wait_for state_is hidden
check "the icon is docked in the tray" wait_for icon_docked
read -r icon_x icon_y < <(icon_position)
xdotool mousemove "$icon_x" "$icon_y" click 1
check "a click on the icon shows the pop-up in front" wait_for state_is front
check "the pop-up stands where the placement rules put it for the shell's taskbar" probe placement

expected=$(lpstat -e | sort)
check "the printer list holds the CUPS queues Wine sees" [ "$(probe items | sort)" = "$expected" ]
current=$(probe default)
pick=OlvaroTestA
[ "$current" = OlvaroTestA ] && pick=OlvaroTestB
index=$(probe items | grep -nx "$pick" | cut -d: -f1)
click_popup chooser          # the chooser opens the list
sleep 0.5
click_popup item "$index"
check "picking $pick makes it the Windows default" wait_for sh -c "[ \"\$(wine '$probe' default 2>/dev/null | tr -d '\r')\" = $pick ]"
check "picking $pick stores it as the preference" \
  sh -c "wine reg query 'HKCU\\SOFTWARE\\Vostrel\\OlvaroDesktop' /v preferredPrinterName 2>/dev/null | grep -q $pick"
xdotool mousemove "$icon_x" "$icon_y" click 1
# Wine without a window manager waits up to 2 s for a hidden window to be withdrawn; clicks
# on the tray meanwhile arrive all at once afterwards.
stays_hidden() { wait_for state_is hidden && sleep 3 && state_is hidden; }
check "a click on the icon hides the shown pop-up" stays_hidden
xdotool mousemove "$icon_x" "$icon_y" click 3
check "a right click on the icon shows it too" wait_for state_is front
xdotool mousemove "$icon_x" "$icon_y" click 3
wait_for state_is hidden
check "a second start leaves at once" timeout 30 wine "$exe"
check "the second start brought the first one's window to the front" wait_for state_is front
check "one main window remains" [ "$(probe count)" = 1 ]
if [ -n "$screenshot" ]; then
  # The address label's refresh and the auth code's answer come first; the tray's panel,
  # which Wine's one-pixel taskbar lets the pop-up overlap, goes out of the picture.
  sleep 6
  panel=$(xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}')
  xdotool windowunmap "$panel"
  sleep 0.5
  read -r left top width height < <(probe geometry)
  import -window root -crop "${width}x${height}+${left}+${top}" +repage "$work/shot.png" &&
    convert "$work/shot.png" -fill none -draw 'color 0,0 floodfill' "$screenshot"
  xdotool windowmap "$panel"
fi

# The gear's menu: "Recent documents...", "About", "Launch At Startup", "Share with all
# phones ...", "Exit".
startup_entry() { wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v OlvaroDesktop >/dev/null 2>&1; }
click_popup settings
sleep 0.5
xdotool key Down Down Down Return
check "\"Launch At Startup\" adds the start-up entry" wait_for startup_entry
sharing_off() {
  wine reg query 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v ShareWithAllPhones 2>/dev/null | grep -q 'REG_DWORD *0x0'
}
click_popup settings
sleep 0.5
xdotool key Down Down Down Down Return
check "\"Share with all phones\", checked at first, turns sharing off" wait_for sharing_off

# "Recent documents..." lists a document just sent, below the column headings; "About"
# shows its window. Each takes the activation from the pop-up, which hides.
curl -s -o /dev/null -H 'X-FileName: tray note.xyz' --data-binary 'a note' "http://127.0.0.1:$port/print"
click_popup settings
sleep 0.5
xdotool key Down Return
check "\"Recent documents\" lists the document just sent" \
  wait_for sh -c "wine '$probe' items OlvaroDesktopRecentDocuments 2>/dev/null | grep -q '	tray note.xyz	'"
probe close OlvaroDesktopRecentDocuments
check "its window hides when closed" wait_for state_is hidden OlvaroDesktopRecentDocuments
show_popup() {
  wait_for state_is hidden && sleep 3
  xdotool mousemove "$icon_x" "$icon_y" click 1
  wait_for state_is front
}
show_popup
click_popup settings
sleep 0.5
xdotool key Down Down Return
check "\"About\" shows its window" wait_for sh -c "[ \"\$(wine '$probe' state OlvaroDesktopAbout 2>/dev/null | tr -d '\r')\" != hidden ]"
check "titled \"About\"" [ "$(probe title OlvaroDesktopAbout)" = About ]
probe close OlvaroDesktopAbout
show_popup
click_popup settings
sleep 0.5
xdotool key Up Return
check "Exit ends the program" wait_for ended "$program"

wine "$exe" >/dev/null 2>&1 &
program=$!
wait_for state_is hidden
probe close
check "a WM_CLOSE from outside ends the program" wait_for ended "$program"
finish
