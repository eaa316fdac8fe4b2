#!/usr/bin/env bash
# endpoint_test.sh BUILD: the driverless printer of the Windows program (BUILD's
# olvaro-desktop.exe) under Wine, as ipptool on the Linux side meets it over the shared
# loopback. Its chosen printer is the CUPS queue OlvaroTestA as Wine's spooler shows it:
# rasters and JPEGs drawn with GDI reach the queue as PostScript, which the queue's driver
# turns into the PDF that is counted here; PDFs go to the PDF viewer, a stand-in that
# logs its command line. Needs scripts/start-services.sh --test-queues. Ends with
# "N passed, N failed".
set -uo pipefail
build=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../package/checks.sh"
queue=OlvaroTestA
capture=/var/spool/olvaro-capture/$queue
suites=/usr/share/cups/ipptool

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}
for tool in wine ipptool gs convert pdfinfo lpstat; do
  command -v "$tool" >/dev/null || { echo "FAILED: $tool is missing (scripts/setup.sh windows tests)"; failed=1; finish; }
done
if ! lpstat -p "$queue" >/dev/null 2>&1 || [ ! -f "$suites/ipp-2.0.test" ]; then
  echo "FAILED: needs cupsd, the queue $queue and CUPS's ipptool suites (scripts/start-services.sh --test-queues)"
  failed=1; finish
fi

# The program and the viewer's stand-in in a folder of their own: the program looks for
# SumatraPDF.exe beside itself first. A fresh Wine prefix with no display.
work=$(mktemp -d /tmp/olvaro-winipp.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/bin" "$work/docs"
cp "$build/app/olvaro-desktop.exe" "$work/bin/"
cp "$build/tests/win_standin.exe" "$work/bin/SumatraPDF.exe"
wineboot -i >/dev/null 2>&1
reg() { wine reg add "$@" /f >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\Drivers' /v Graphics /d null
reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d ''
reg 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /v Device /d "$queue,winspool,CUPS:$queue"
port=$(free_port)
closed=$(free_port)
reg 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v Port /t REG_DWORD /d "$port"
reg 'HKCU\SOFTWARE\Vostrel\OlvaroDesktop' /v ShareWithAllPhones /t REG_DWORD /d 1
viewer_log=$work/viewer.log
: >"$viewer_log"

# The documents: a 2-page A4 PDF, a JPEG photo, and the PDF as PWG and Apple raster
# (sGray and sRGB) at 300 dpi.
docs=$work/docs
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA -o "$docs/two.pdf" \
  -c '/Helvetica findfont 36 scalefont setfont 72 700 moveto (Page one) show showpage 72 700 moveto (Page two) show showpage'
convert -size 900x600 gradient:orange-navy "$docs/photo.jpg"
for kind in gray:18:-dGRAY rgb:19:; do
  IFS=: read -r name space extra <<<"$kind"
  for device in pwgraster:pwg urf:urf; do
    gs -q -dNOPAUSE -dBATCH -r300 -sDEVICE="${device%:*}" $extra -dcupsColorSpace="$space" -dcupsBitsPerColor=8 \
      -o "$docs/$name.${device#*:}" "$docs/two.pdf" >/dev/null 2>&1
  done
done
# A raster whose first page claims twice its lines: cut short, it must print nothing.
python3 - "$docs/gray.pwg" "$docs/lying.pwg" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
height = struct.unpack_from('>I', data, 4 + 376)[0]
struct.pack_into('>I', data, 4 + 376, height * 2)
open(sys.argv[2], 'wb').write(bytes(data[:4 + 1796 + 50000]))
PY

uri=ipp://127.0.0.1:$port/ipp/print
OLVARO_STANDIN_LOG=$(winepath -w "$viewer_log" 2>/dev/null) OLVARO_API_URL="https://127.0.0.1:$closed" \
  OLVARO_UPDATE_URL="http://127.0.0.1:$closed" wine "$work/bin/olvaro-desktop.exe" >"$work/program.log" 2>&1 &
pid=$!
ipp() { ipptool -T 30 "$@"; }
answers() { ipp "$uri" "$suites/get-printer-attributes.test" >/dev/null 2>&1; }
for _ in $(seq 150); do answers && break; sleep 0.2; done
check "the Windows program answers Get-Printer-Attributes at /ipp/print" answers

conforms() {
  ipp --stop-after-include-error -R -V 2.0 -t -f "$docs/two.pdf" "$uri" "$suites/ipp-2.0.test" >"$work/ipp-2.0.log" 2>&1 ||
    { grep -B2 -A12 'FAIL' "$work/ipp-2.0.log" | head -80; return 1; }
}
check "ipptool's ipp-2.0.test passes" conforms

# Print-Job with a job name of its own, answered with STATUS; the queue is shared, so a
# job is found there by its title, which is the job's name.
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
for document in gray.pwg rgb.pwg gray.urf rgb.urf; do
  check "Print-Job of $document prints 2 pages through Wine's spooler" printed "$docs/$document" 2
done
check "Print-Job of a JPEG prints 1 page" printed "$docs/photo.jpg" 1

# A PDF goes to the viewer with the spooled path and the job's copies.
viewer_got() {
  local spool line
  : >"$viewer_log"
  job "$docs/two.pdf" successful-ok "Two copies" 2 || return 1
  spool=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')'\OlvaroDesktop\Two copies.pdf'
  line=$(tr -d '\r' <"$viewer_log")
  [ "$line" = "SumatraPDF.exe -print-to-default -print-settings \"2x\" -exit-on-print \"$spool\"" ] ||
    { echo "  the viewer got: $line"; return 1; }
}
check "a PDF reaches the viewer with the spooled path and its copies" viewer_got
# A raster that lies about its size is refused and prints nothing.
refused() {
  local name="Lying $RANDOM$RANDOM"
  job "$docs/lying.pwg" client-error-document-format-error "$name" || return 1
  sleep 3
  ! captured "$name" >/dev/null
}
check "a lying raster gets client-error-document-format-error and prints nothing" refused
check "the program is still running" kill -0 "$pid"
finish
