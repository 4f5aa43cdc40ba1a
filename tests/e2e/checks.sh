# Sourced by the end-to-end drivers: counting checks, and waiting on what a monitor shows.
# A driver defines texts NAME (the window's texts, one per line) and launches monitors whose
# exit codes land in NAME.exit.

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; shift; for line in "$@"; do echo "     $line"; done; }
expect_eq() {  # NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1" "expected: $2" "actual:   $3"; fi
}
expect_true() {  # NAME DETAIL COMMAND...
  local name=$1 detail=$2
  shift 2
  if "$@"; then pass "$name"; else fail "$name" "$detail"; fi
}

# exit_of NAME [SECONDS]: the monitor's exit code, or "running" if it did not end in time.
exit_of() {
  local deadline=$((SECONDS + ${2:-15}))
  until [ -s "$1.exit" ]; do
    [ $SECONDS -ge $deadline ] && { echo running; return; }
    sleep 0.1
  done
  cat "$1.exit"
}

# wait_for_line LOG PATTERN SECONDS: until a line of LOG matches PATTERN.
wait_for_line() {
  local deadline=$((SECONDS + $3))
  until grep -q "$2" "$1" 2>/dev/null; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}

# wait_for_text NAME TEXT SECONDS: until one of the window's texts is TEXT.
wait_for_text() {
  local deadline=$((SECONDS + $3))
  until texts "$1" | grep -qxF "$2"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.3
  done
}

# wait_for_count NAME LABEL N SECONDS: until the window's "LABEL: K" shows K of N or more. A count
# that moves about as fast as the texts can be read skips values between two readings, so a wait
# for one exact value can miss it.
wait_for_count() {
  local deadline=$((SECONDS + $4))
  until texts "$1" | awk -v l="$2: " -v n="$3" \
      'index($0, l) == 1 && substr($0, length(l) + 1) + 0 >= n { ok = 1 } END { exit !ok }'; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.3
  done
}

starts() { grep -c '^start ' "$1" 2>/dev/null || echo 0; }

# all_within LIST LOW HIGH COUNT: LIST holds COUNT numbers, each from LOW to HIGH.
all_within() {
  awk -v v="$1" -v lo="$2" -v hi="$3" -v want="$4" 'BEGIN { n = split(v, a, " ")
    for (i = 1; i <= n; i++) if (a[i] < lo || a[i] > hi) exit 1; exit n != want }'
}

# summary NAME: the closing line, and the exit status.
summary() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# probe_socket_address LOG: the local address of the monitor's probe socket, found by the source
# port of the probes the child that logs to LOG received, as /proc/net/udp lists it (Wine's
# sockets are the host's). The kernel prints the address as a little-endian hex number.
probe_socket_address() {
  local port hex
  port=$(sed -n 's/^recv .* from=127.0.0.1:\([0-9]*\) .*/\1/p' "$1" | head -n 1)
  [ -n "$port" ] || { echo "no probe received"; return; }
  hex=$(awk -v p="$(printf '%04X' "$port")" 'NR > 1 && substr($2, 10) == p { print substr($2, 1, 8) }' \
    /proc/net/udp | head -n 1)
  [ -n "$hex" ] || { echo "no socket at port $port"; return; }
  printf '%d.%d.%d.%d\n' "0x${hex:6:2}" "0x${hex:4:2}" "0x${hex:2:2}" "0x${hex:0:2}"
}
