#!/usr/bin/env bash
# endpoint_test.sh BUILD: the driverless printer of the Windows program (BUILD's
# olvaro-desktop.exe) under Wine, as ipptool on the Linux side meets it over the shared
# loopback. Its chosen printer is the CUPS queue OlvaroTestA as Wine's spooler shows it:
# rasters and JPEGs drawn with GDI reach the queue as PostScript, which the queue's driver
# turns into the PDF counted here; PDFs go to the PDF viewer, a stand-in that logs its
# command line. Needs scripts/start-services.sh --test-queues. Ends with "N passed, N failed".
set -uo pipefail
build=$(readlink -f "$1")
# shellcheck source=SCRIPTDIR/../../package/checks.sh
source "$(dirname "$0")/../../package/checks.sh"
queue=OlvaroTestA
capture=/var/spool/olvaro-capture/$queue
suites=/usr/share/cups/ipptool
samples=$build/tests/raster/samples  # ghostscript's 2-page rasters (tests/raster/make_rasters.sh)
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}
ready() {
  for tool in wine ipptool gs convert pdfinfo; do command -v "$tool" >/dev/null || return 1; done
  lpstat -p "$queue" >/dev/null 2>&1 && [ -f "$suites/ipp-2.0.test" ] && [ -f "$samples/color.urf" ]
}
check "Wine, ipptool, ghostscript, ImageMagick, pdfinfo, the queue and the samples are there" ready
[ "$failed" -eq 0 ] || finish

# The program and the viewer's stand-in in a folder of their own (the program looks for
# SumatraPDF.exe beside itself first), in a fresh Wine prefix with no display.
work=$(mktemp -d /tmp/olvaro-winipp.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
pid=
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cp "$build/app/olvaro-desktop.exe" "$work/bin/"
cp "$build/tests/win_standin.exe" "$work/bin/SumatraPDF.exe"
wineboot -i >/dev/null 2>&1
reg() { wine reg add "$@" /f >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\Drivers' /v Graphics /d null
reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d ''
reg 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /v Device /d "$queue,winspool,CUPS:$queue"
port=$(free_port) closed=$(free_port)
reg 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v Port /t REG_DWORD /d "$port"
reg 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v ShareWithAllPhones /t REG_DWORD /d 1

# A 2-page A4 PDF, a JPEG photo, and a raster cut short.
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA -o "$work/two.pdf" \
  -c '/Helvetica findfont 36 scalefont setfont 72 700 moveto (Page one) show showpage 72 700 moveto (Page two) show showpage'
convert -size 900x600 gradient:orange-navy "$work/photo.jpg"
head -c -1000 "$samples/color.pwg" >"$work/cut.pwg"

viewer_log=$work/viewer.log
uri=ipp://127.0.0.1:$port/ipp/print
OLVARO_STANDIN_LOG=$(winepath -w "$viewer_log" 2>/dev/null) OLVARO_API_URL="https://127.0.0.1:$closed" \
  OLVARO_UPDATE_URL="http://127.0.0.1:$closed" wine "$work/bin/olvaro-desktop.exe" >"$work/program.log" 2>&1 &
pid=$!
ipp() { ipptool -T 30 "$@"; }
answers() { ipp "$uri" "$suites/get-printer-attributes.test" >/dev/null 2>&1; }
for _ in $(seq 150); do answers && break; sleep 0.2; done
check "the Windows program answers Get-Printer-Attributes at /ipp/print" answers
conforms() {
  ipp --stop-after-include-error -R -V 2.0 -t -f "$work/two.pdf" "$uri" "$suites/ipp-2.0.test" >"$work/ipp-2.0.log" 2>&1 ||
    { grep -B2 -A12 'FAIL' "$work/ipp-2.0.log" | head -80; return 1; }
}
check "ipptool's ipp-2.0.test passes" conforms

# Print-Job with a job name of its own, answered with STATUS (ipptool takes no variable
# there); the queue is shared, so a job is found there by its title, the job's name.
cat >"$work/job.test" <<'END'
{
	OPERATION Print-Job
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR language attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR name job-name $name
	ATTR mimeMediaType document-format $filetype
	GROUP job-attributes-tag
	ATTR integer copies $copies
	FILE $filename
	STATUS $status
}
END
job() {  # job FILE STATUS NAME [COPIES]
  sed "s/\\\$status/$2/" "$work/job.test" >"$work/$2.test"
  ipp -d name="$3" -d copies="${4:-1}" -f "$1" "$uri" "$work/$2.test" >"$work/job.log" 2>&1 ||
    { cat "$work/job.log"; return 1; }
}
captured() {  # captured NAME: the data file of the job titled NAME, once it is there
  local title
  title=$(grep -lx -- "$1" "$capture"/*.title 2>/dev/null | head -n 1)
  [ -n "$title" ] && [ -f "${title%.title}.data" ] && echo "${title%.title}.data"
}
printed() {  # printed FILE PAGES
  local name data='' pages
  name="$(basename "$1") $RANDOM$RANDOM"
  job "$1" successful-ok "$name" || return 1
  for _ in $(seq 120); do data=$(captured "$name") && break; sleep 0.5; done
  pages=$(pdfinfo "$data" 2>/dev/null | awk '/^Pages:/ {print $2}')
  [ "$pages" = "$2" ] || { echo "  ${data:-nothing} came, with ${pages:-no} pages, not $2"; return 1; }
}
for raster in gray.pwg color.pwg gray.urf color.urf; do
  check "Print-Job of $raster prints 2 pages through Wine's spooler" printed "$samples/$raster" 2
done
check "Print-Job of a JPEG prints 1 page" printed "$work/photo.jpg" 1
viewer_got() {
  local spool line
  : >"$viewer_log"
  job "$work/two.pdf" successful-ok "Two copies" 2 || return 1
  spool=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')'\OlvaroDesktop\Two copies.pdf'
  line=$(tr -d '\r' <"$viewer_log")
  [ "$line" = "SumatraPDF.exe -print-to-default -print-settings \"2x\" -exit-on-print \"$spool\"" ] ||
    { echo "  the viewer got: $line"; return 1; }
}
check "a PDF reaches the viewer with the spooled path and its copies" viewer_got
refused() {
  local name="Cut $RANDOM$RANDOM"
  job "$work/cut.pwg" client-error-document-format-error "$name" || return 1
  sleep 3
  ! captured "$name" >/dev/null
}
check "a raster cut short gets client-error-document-format-error and prints nothing" refused
check "the program is still running" kill -0 "$pid"
finish
