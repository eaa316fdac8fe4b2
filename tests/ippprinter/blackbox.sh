#!/usr/bin/env bash
# blackbox.sh OLVARO-DESKTOP: the driverless printer as its clients meet it. The program
# runs with the capturing queue OlvaroTestIpp as its chosen printer; ipptool, CUPS itself
# (queues made with lpadmin -m everywhere and -m driverless), ippfind and hand-made hostile
# requests talk to it, and what it prints is read back from the capture folder with pdfinfo.
# Needs root and scripts/start-services.sh --test-queues; restarts avahi-daemon once.
set -uo pipefail
program=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../../scripts/lib.sh
source "$here/../../scripts/lib.sh"
# shellcheck source=SCRIPTDIR/../package/checks.sh
source "$here/../package/checks.sh"

queue=OlvaroTestIpp
capture=/var/spool/olvaro-capture/$queue
suites=/usr/share/cups/ipptool
for tool in ipptool ippfind gs convert pdfinfo python3 avahi-browse lpadmin lp; do
  if ! command -v "$tool" >/dev/null; then
    echo "blackbox: $tool is missing (scripts/setup.sh tests)" >&2
    [ "${CI:-}" = true ] && exit 1 || exit 77
  fi
done
if ! lpstat -p "$queue" >/dev/null 2>&1 || [ ! -f "$suites/ipp-2.0.test" ]; then
  echo "blackbox: needs cupsd, the queue $queue and CUPS's ipptool suites (scripts/start-services.sh --test-queues)" >&2
  [ "${CI:-}" = true ] && exit 1 || exit 77
fi

work=$(mktemp -d /tmp/olvaro-ipp.XXXXXX)
pid=
cups_queues=()  # made by the checks; they go at once, as other programs here may print to any queue
drop_cups_queues() { for q in "${cups_queues[@]}"; do as_root lpadmin -x "$q"; done; cups_queues=(); }
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null
  [ "$failed" -eq 0 ] || { echo "the program's standard error:"; grep -v 'too many connections' "$work/stderr" | tail -n 40; } >&2
  drop_cups_queues 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The documents: a 2-page A4 PDF, a JPEG photo, the PDF as PWG raster (sGray and sRGB)
# and as URF at 300 dpi, and rasters that lie about their pages.
docs=$work/docs
mkdir -p "$docs"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA -o "$docs/two.pdf" \
  -c '/Helvetica findfont 36 scalefont setfont 72 700 moveto (Page one) show showpage 72 700 moveto (Page two) show showpage'
convert -size 900x600 gradient:orange-navy "$docs/photo.jpg"
for space in gray:18 rgb:19; do
  gs -q -sDEVICE=pwgraster -r300 -dcupsColorSpace="${space#*:}" -dcupsBitsPerColor=8 -o "$docs/${space%:*}.pwg" "$docs/two.pdf" >/dev/null
  python3 "$here/rawipp.py" urf "$docs/${space%:*}.pwg" "$docs/${space%:*}.urf"
done
python3 "$here/rawipp.py" lying "$docs/gray.pwg" "$docs/tall.pwg" height
python3 "$here/rawipp.py" lying "$docs/gray.pwg" "$docs/overrun.pwg" run
: >"$docs/empty.pdf"

# The program, in per-user folders of its own, its chosen printer the capture queue.
port=$(free_port)
closed=$(free_port)
uri=ipp://127.0.0.1:$port/ipp/print
home=$work/home
mkdir -p "$home/.cups" "$work/config/Vostrel" "$work/runtime" "$work/tmp"
chmod 0700 "$home" "$work/config" "$work/runtime" "$work/tmp"
spool=$work/tmp/OlvaroDesktop
settings=$work/config/Vostrel/OlvaroDesktop.reg
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Vostrel\\OlvaroDesktop]\n"Port"=dword:%08x\n"ShareWithAllPhones"=dword:00000001\n' \
  "$port" >"$settings"
share() {  # share 1|0: the setting "Share with all phones" as the gear menu stores it; the rest stays
  sed "s/^\"ShareWithAllPhones\"=.*/\"ShareWithAllPhones\"=dword:0000000$1/" "$settings" >"$settings.new" &&
    mv "$settings.new" "$settings"
}
choose() { echo "Default $1" >"$home/.cups/lpoptions"; }
choose "$queue"
env -i PATH="$PATH" HOME="$home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$work/tmp" \
  AVAHI_COMPAT_NOWARN=1 OLVARO_API_URL="https://127.0.0.1:$closed" OLVARO_UPDATE_URL="http://127.0.0.1:$closed" \
  "$program" 2>"$work/stderr" &
pid=$!

ipp() { ipptool -T 30 "$@"; }  # a request that waits no longer than 30 s for its answer
answers() { ipp "$uri" "$suites/get-printer-attributes.test" >/dev/null 2>&1; }
for _ in $(seq 100); do answers && break; sleep 0.2; done
check "the program answers Get-Printer-Attributes at /ipp/print" answers

# Captured jobs: data files named by CUPS job id. `lands BEFORE COUNT PAGES` waits for
# COUNT jobs beyond the listing BEFORE, each of PAGES pages.
# The capture queue's jobs so far, once the queue has finished those it holds (jobs of an
# earlier check may still be on their way).
listing() {
  for _ in $(seq 60); do
    [ -z "$(lpstat -o "$queue" 2>/dev/null)" ] && break; sleep 0.5
  done
  find "$capture" -maxdepth 1 -name '*.data' -printf '%f\n' | sort
}
since() { comm -13 <(echo "$1") <(listing) | grep .; }
pages() { pdfinfo "$capture/$1" 2>/dev/null | awk '/^Pages:/ {print $2}'; }
lands() {
  local new='' count=0 job
  for _ in $(seq 120); do
    new=$(since "$1"); count=$(grep -c . <<<"$new")
    [ "$count" -ge "$2" ] && break; sleep 0.5
  done
  [ "$count" -eq "$2" ] || { echo "  $count jobs came, not $2" >&2; return 1; }
  for job in $new; do
    [ "$(pages "$job")" = "$3" ] || { echo "  $job has $(pages "$job") pages, not $3" >&2; return 1; }
  done
}
# No job of the refused ones ("refused-..." titles) is printed and nothing stays in the
# spool folder. (Other programs on the machine may print into the capture queue meanwhile.)
spooled() { find "$spool" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | sort; }
nothing_left() {
  local job
  sleep 3
  for job in $(since "$1"); do
    grep -q '^refused-' "$capture/${job%.data}.title" && { echo "  printed: $job" >&2; return 1; }
  done
  [ "$(spooled)" = "$2" ] || { echo "  left in the spool: $(comm -13 <(echo "$2") <(spooled))" >&2; return 1; }
}

# CUPS's own conformance suite for an IPP/2.0 printer.
conforms() {
  ipptool --stop-after-include-error -R -V 2.0 -t -f "$docs/two.pdf" "$uri" "$suites/ipp-2.0.test" >"$work/ipp-2.0.log" 2>&1 ||
    { grep -B2 -A12 'FAIL' "$work/ipp-2.0.log" | head -80 >&2; return 1; }
}
check "ipptool's ipp-2.0.test passes" conforms

# Every format, sent chunked (ipptool's default) and with a length (-L).
printed() {  # printed FILE PAGES [ipptool options]
  local before
  before=$(listing)
  ipp "${@:3}" -f "$1" "$uri" "$suites/print-job.test" >"$work/print.log" 2>&1 || { cat "$work/print.log" >&2; return 1; }
  lands "$before" 1 "$2"
}
for document in two.pdf:2 photo.jpg:1 gray.pwg:2 rgb.pwg:2 gray.urf:2 rgb.urf:2; do
  file=${document%:*} count=${document#*:}
  check "Print-Job of $file, chunked, prints $count pages" printed "$docs/$file" "$count"
  check "Print-Job of $file with a length prints $count pages" printed "$docs/$file" "$count" -L
done

# Two clients at once.
at_once() {
  local before
  before=$(listing)
  ipp -f "$docs/rgb.pwg" "$uri" "$suites/print-job.test" >"$work/first.log" 2>&1 &
  local first=$!
  ipp -L -f "$docs/two.pdf" "$uri" "$suites/print-job.test" >"$work/second.log" 2>&1 || return 1
  wait "$first" || return 1
  lands "$before" 2 2
}
check "two clients printing at once both print" at_once

# CUPS as the client: a queue made by IPP Everywhere and one by cups-filters' driverless.
through_cups() {  # through_cups QUEUE MODEL
  local before
  cups_queues+=("$1")
  as_root lpadmin -p "$1" -E -v "$uri" -m "$2" || return 1
  before=$(listing)
  lp -d "$1" "$docs/two.pdf" >/dev/null && lands "$before" 1 2 || return 1
  before=$(listing)
  lp -d "$1" "$docs/photo.jpg" >/dev/null && lands "$before" 1 1
}
check "a CUPS queue made with -m everywhere prints a PDF and a JPEG" through_cups OlvaroIppEverywhere everywhere
check "a CUPS queue made with -m driverless prints a PDF and a JPEG" through_cups OlvaroIppDriverless "driverless:$uri"
drop_cups_queues

# Bad input: each refused with its own status, nothing printed, nothing left in the spool,
# the service still answering.
refused() {
  ipp -I -R -d pdf="$docs/two.pdf" -d empty="$docs/empty.pdf" -d tall="$docs/tall.pwg" -d overrun="$docs/overrun.pwg" \
    -d longname="$(printf 'n%.0s' $(seq 300))" -t "$uri" "$here/refused.test" >"$work/refused.log" 2>&1 ||
    { grep -A8 FAIL "$work/refused.log" >&2; return 1; }
}
raw_refused() {  # raw_refused CASE: a broken message answered with HTTP 400 or an IPP client error
  local reply
  reply=$(python3 "$here/rawipp.py" send "$port" "$1")
  [[ $reply =~ ^http=400 || $reply =~ ^http=413 || $reply =~ ipp=0x04 ]] || { echo "  $1: $reply" >&2; return 1; }
}
stalled_ends() {
  local reply
  reply=$(python3 "$here/rawipp.py" send "$port" stalled)
  [[ $reply == closed || $reply =~ ^http=4 || $reply =~ ipp=0x04 ]] || { echo "  stalled: $reply" >&2; return 1; }
}
crowd_served() {
  local reply
  reply=$(python3 "$here/rawipp.py" crowd "$port" 200)
  [[ $reply == "http=200 ipp=0x0000" ]] || { echo "  another client got: $reply" >&2; return 1; }
}
before=$(listing) left=$(spooled)
check "refused documents get their statuses" refused
check "an oversize message is refused" raw_refused oversize
check "collections nested too deep are refused" raw_refused deep
check "a body that stalls is ended" stalled_ends
check "200 idle connections from one address leave the service to others" crowd_served
check "nothing refused is printed or left in the spool" nothing_left "$before" "$left"
check "the service answers after the bad input" answers

# DNS-SD as clients browse it: the subtypes, the TXT keys, the uuid the printer reports.
record() {  # record SUBTYPE: the TXT record of our _ipp._tcp service, as IPPFIND_TXT_* lines
  ippfind -T 5 "_ipp._tcp,$1" --port "$port" -x env \; 2>/dev/null | grep '^IPPFIND_' | sort -u
}
cat >"$work/uuid.test" <<'END'
{
	OPERATION Get-Printer-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR language attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR keyword requested-attributes printer-uuid
	STATUS successful-ok
	DISPLAY printer-uuid
}
END
uuid=$(ipp -c "$uri" "$work/uuid.test" | tail -n 1)
# Another program may restart avahi-daemon meanwhile: a record is looked for a few times.
eventually() { for _ in $(seq 10); do "$@" && return 0; sleep 1; done; return 1; }
seen_under() { txt=$(record "$1") && [ -n "$txt" ]; }
check "ippfind sees the printer under _print" eventually seen_under _print
check "ippfind sees the printer under _universal" eventually seen_under _universal
txt_is() { grep -qx "IPPFIND_TXT_$1=$2" <<<"$txt" || { echo "  $1: $(grep "^IPPFIND_TXT_$1=" <<<"$txt")" >&2; return 1; }; }
check "rp is ipp/print" txt_is RP ipp/print
check "pdl names PDF, JPEG, PWG raster and URF" txt_is PDL 'application/pdf,image/jpeg,image/pwg-raster,image/urf'
check "UUID is the printer's printer-uuid" txt_is UUID "${uuid#urn:uuid:}"
check "URF names 8-bit gray, sRGB and 300 dpi" grep -q '^IPPFIND_TXT_URF=.*W8.*SRGB24.*RS300' <<<"$txt"
for key in TXTVERS QTOTAL TY PRODUCT NOTE ADMINURL PRIORITY COLOR DUPLEX KIND PAPERMAX MOPRIA.CERTIFIED; do
  check "the TXT record has $key" grep -q "^IPPFIND_TXT_$key=" <<<"$txt"
done
unwanted_keys() { grep -i '^IPPFIND_TXT_\(PRINTER.TYPE\|TLS\)=' <<<"$txt"; }
check "the TXT record has no printer-type and no TLS key" test -z "$(unwanted_keys)"

# The record follows the chosen printer and the setting; the phone service stays.
# What avahi-daemon resolves on our port, one service a line ("=;if;proto;name;type;...").
browse() { avahi-browse -arptk 2>/dev/null | grep "^=.*;$port;"; }
named() { browse | grep -q "^=;[^;]*;[^;]*;$1[^;]*;_ipp\._tcp;"; }
phone_seen() { browse | grep -q ';_vostrelprint\._tcp;'; }
gone() {  # the phone service is seen and the printer is not
  local seen
  seen=$(browse)
  grep -q ';_vostrelprint\._tcp;' <<<"$seen" && ! grep -q ';_ipp\._tcp;' <<<"$seen"
}
ipp_status() { curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: application/ipp' --data-binary @/dev/null "http://127.0.0.1:$port/ipp/print"; }
choose OlvaroTestB
check "choosing another printer renames the record after it" eventually named OlvaroTestB
choose "$queue"
check "and back" eventually named "$queue"
share 0
check "sharing off withdraws the record" eventually gone
check "sharing off makes /ipp/print 404" test "$(ipp_status)" = 404
check "sharing off leaves the phone service announced" eventually phone_seen
share 1
check "sharing on announces the record again" eventually named "$queue"

as_root avahi-daemon --kill
for _ in $(seq 50); do as_root avahi-daemon --check 2>/dev/null || break; sleep 0.1; done
as_root avahi-daemon --daemonize --no-rlimits
check "the record is back after avahi-daemon restarts" eventually named "$queue"
check "the phone service is back too" eventually phone_seen

check "the program is still running" kill -0 "$pid"
echo "blackbox: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
