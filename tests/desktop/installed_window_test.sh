#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The installed program started as from the desktop menu:
#   1. `cmake --install` into a staging folder (prefix /usr);
#   2. a fresh HOME and XDG folders, no settings file (the default settings name
#      the local service on port 48443) and no service running; no systemd user
#      manager is reachable from the test's runtime folder, so the window must
#      take its fallback: tallowdesk-server beside it, in the background;
#   3. the window under Xvfb: the service is found started with its data in
#      the user's data folder and without the demo account; an account is
#      added to it and the sign-in dialog is answered; the main window shows.
# Everything started here is stopped on the way out, each process by its id.
#
# Usage: installed_window_test.sh BUILD_DIR OUTDIR
set -uo pipefail

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The ids of processes running exactly the given program file.
pids_of() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$1" ] && echo "${p#/proc/}"
  done
}

if [ "${1:-}" = "--inside-x" ]; then
  shift
  usr=$1 outdir=$2
  client_pid=
  stop_client() {
    [ -n "$client_pid" ] || return 0
    kill "$client_pid" 2>/dev/null
    wait "$client_pid" 2>/dev/null
    client_pid=
  }
  trap stop_client EXIT
  trap 'exit 143' TERM INT

  "$usr/bin/tallowdesk" >"$WORK/client.log" 2>&1 &
  client_pid=$!

  # The service comes first: the window waits for its port, then asks for the account.
  wait_for 40 xdotool search --onlyvisible --name '^Tallowdesk$' ||
    fail "no window titled Tallowdesk appeared (see $WORK/client.log)"
  port_answers 48443 || fail "the sign-in dialog showed but the local service does not answer"
  server_pids=$(pids_of "$usr/bin/tallowdesk-server")
  [ -n "$server_pids" ] || fail "port 48443 answers, but not the installed tallowdesk-server"
  data=$XDG_DATA_HOME/Tallowdesk/server
  [ -s "$data/cert.pem" ] || fail "the service keeps no data in $data"
  grep -q 'listening on https://localhost:48443' "$data/server.log" ||
    fail "the service's output is not in $data/server.log"

  # No demo account unless asked for.
  echo tallowdesk-demo | "$usr/bin/tallowdesk-cli" login demo@tallowdesk.test >"$WORK/demo.log" 2>&1 &&
    fail "the service was started with the demo account"

  echo 'kettle-42' | "$usr/bin/tallowdesk-server" --data-dir "$data" add-user alice@home.test \
    >"$WORK/add-user.log" 2>&1 || fail "add-user failed: $(cat "$WORK/add-user.log")"

  dialog=$(xdotool search --onlyvisible --name '^Tallowdesk$' | head -n 1)
  sleep 1 # let it paint
  import -window "$dialog" "$outdir/e2e-installed-signin.png" 2>/dev/null || true
  xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
  xdotool type --delay 30 'alice@home.test'
  xdotool key --clearmodifiers Tab
  xdotool type --delay 30 'kettle-42'
  xdotool key --clearmodifiers Return

  main_window() {
    local w
    for w in $(xdotool search --onlyvisible --name '^Tallowdesk$'); do
      [ "$w" != "$dialog" ] && echo "$w" && return 0
    done
    return 1
  }
  wait_for 30 main_window || fail "the main window did not appear after signing in (see $WORK/client.log)"
  exit 0
fi

build=$1 outdir=$2
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done
port_answers 48443 && fail "port 48443 is in use: stop the local document service running on this machine first"

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-installed.XXXXXX") || fail "no temp folder"
export WORK=$work
stage=$work/stage
usr=$stage/usr
cleanup() {
  local pid
  for pid in $(pids_of "$usr/bin/tallowdesk-server") $(pids_of "$usr/bin/tallowdesk"); do
    kill "$pid" 2>/dev/null
  done
  wait_for 10 bash -c "! (exec 3<>/dev/tcp/127.0.0.1/48443) 2>/dev/null"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  fail "cmake --install failed: $(cat "$work/install.log")"
mkdir -p "$outdir"

export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config
export XDG_DATA_HOME=$HOME/.local/share
export XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# Only the test's own runtime folder: no user manager, no session bus.
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM

xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside-x "$usr" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  echo "--- service output" >&2
  cat "$XDG_DATA_HOME/Tallowdesk/server/server.log" >&2 2>/dev/null
  fail "the installed window check ended with status $status"
fi
echo "PASSED"
