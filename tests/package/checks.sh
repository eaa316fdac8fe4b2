# Sourced by the package tests: counted checks and free loopback ports.
passed=0 failed=0
check() {  # check WHAT COMMAND...: runs the command, counts and reports the result
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"
  else failed=$((failed + 1)); echo "FAILED: $what" >&2; fi
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
