#!/usr/bin/env bash
# Starts what printing and discovery need when nothing (systemd) runs them already:
# the system D-Bus, avahi-daemon and cupsd. With --test-queues it also installs the
# capturing backend and the test print queues the tests print to.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

start_dbus() {
  if [ -S /run/dbus/system_bus_socket ] && as_root pgrep -x dbus-daemon >/dev/null; then return; fi
  as_root rm -f /run/dbus/pid
  as_root mkdir -p /run/dbus
  as_root dbus-daemon --system --fork --print-pid >/dev/null
}

start_avahi() {
  if as_root avahi-daemon --check 2>/dev/null; then return; fi
  as_root avahi-daemon --daemonize --no-rlimits
  for _ in $(seq 50); do as_root avahi-daemon --check 2>/dev/null && return; sleep 0.1; done
  echo "start-services: avahi-daemon did not come up" >&2; return 1
}

start_cups() {
  if lpstat -r 2>/dev/null | grep -q 'is running'; then return; fi
  as_root mkdir -p /run/cups
  as_root /usr/sbin/cupsd
  for _ in $(seq 100); do lpstat -r 2>/dev/null | grep -q 'is running' && return; sleep 0.1; done
  echo "start-services: cupsd did not come up" >&2; return 1
}

# Test queues: each job's bytes, content type and title land in
# /var/spool/olvaro-capture/<queue>/<job>.{data,type,title}. OlvaroTestIpp is the chosen
# printer of the driverless printer's black-box tests.
add_test_queues() {
  as_root install -m 0755 "$top/tests/support/olvarocapture" /usr/lib/cups/backend/olvarocapture
  for q in OlvaroTestA OlvaroTestB OlvaroTestIpp; do
    as_root install -d -m 1777 /var/spool/olvaro-capture /var/spool/olvaro-capture/$q
    if ! lpstat -p "$q" >/dev/null 2>&1; then
      as_root lpadmin -p "$q" -E -v "olvarocapture:/var/spool/olvaro-capture/$q" \
        -m lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd -o PageSize=Letter
    fi
  done
  as_root cupsaccept OlvaroTestA OlvaroTestB OlvaroTestIpp
  as_root cupsenable OlvaroTestA OlvaroTestB OlvaroTestIpp
  # A stopped queue that keeps its jobs, with a driver of known sheets, colour and sides
  # (made again each time, so that it always has the driver of this checkout).
  as_root lpadmin -p OlvaroTestStopped -v "olvarocapture:/var/spool/olvaro-capture/OlvaroTestStopped" \
    -P "$top/tests/support/olvarotest-mono.ppd" -L "Room 7" -D "Stopped test queue" 2>/dev/null
  as_root cupsaccept OlvaroTestStopped
  as_root cupsdisable OlvaroTestStopped
}

start_dbus
start_avahi
start_cups
if [ "${1:-}" = "--test-queues" ]; then add_test_queues; fi
