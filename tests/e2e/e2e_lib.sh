# Shared by the end-to-end scripts (sourced, not run). The sourcing script
# defines fail(), which these call.

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false once
# SECONDS have passed. Every wait of the scripts has such a deadline.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# The first visible window whose title matches the pattern, if any.
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep .; }
no_window_named() { ! window_named "$1" >/dev/null; }

# A screenshot that really shows something: a PNG of more than 1000 bytes.
check_png() {
  [ -s "$1" ] || fail "$1 is empty or missing"
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    fail "$1 is not a PNG file"
  [ "$(stat -c %s "$1")" -gt 1000 ] || fail "$1 is too small to show a window"
}

# e2e_work NAME: a fresh work folder in $work (E2E_WORK for the run inside
# the X server), removed on exit together with the service started below.
e2e_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-$1.XXXXXX") || fail "no temp folder"
  export E2E_WORK=$work
  server_pid=
  trap e2e_cleanup EXIT
  trap 'exit 143' TERM INT
}
e2e_cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}

# e2e_start_service SERVER_BIN [ARGS...]: the demo service in $work on a free
# port; sets server_pid and port.
e2e_start_service() {
  local bin=$1
  shift
  "$bin" --data-dir "$work/server" --port 0 --demo "$@" >"$work/server.log" 2>&1 &
  server_pid=$!
  wait_for 30 e2e_port_line || fail "the service did not start"
  port=$(e2e_port_line | sed 's/.*://')
}
e2e_port_line() { grep -m1 -o 'listening on https://localhost:[0-9]*' "$work/server.log"; }
