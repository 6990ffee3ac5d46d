#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window end to end under a virtual X server:
#   1. the real service on a free port with a fresh data folder and the demo account;
#   2. a fresh settings folder that points the client at it and remembers the account
#      (through tallowdesk-cli, as a user would);
#   3. the real window: the pre-filled sign-in dialog is confirmed with Enter, the
#      folder "Server Logs 2025" is chosen in the tree, then Alt+Left goes back;
#   4. screenshots of the dialog and the window (PNG) in OUTDIR, checked minimally.
# Everything started here is stopped on the way out. Exit 77 means skipped.
#
# Usage: window_e2e.sh SERVER CLIENT CLI OUTDIR
set -uo pipefail

if [ "${1:-}" = "--inside-x" ]; then
  inside_x=1
  shift
else
  inside_x=0
fi
server_bin=$1 client_bin=$2 cli_bin=$3 outdir=$4

skip() {
  echo "SKIPPED: $*"
  exit 77
}
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

# A PNG file that is not empty: the signature and a size above a bare header.
check_png() {
  [ -s "$1" ] || fail "$1 is empty or missing"
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    fail "$1 is not a PNG file"
  [ "$(stat -c %s "$1")" -gt 1000 ] || fail "$1 is too small to show a window"
}

# ---------------------------------------------------------------------------
# Inside the virtual display: drive the window.
if [ "$inside_x" = 1 ]; then
  client_pid=
  stop_client() {
    [ -n "$client_pid" ] || return 0
    kill "$client_pid" 2>/dev/null
    wait "$client_pid" 2>/dev/null
    client_pid=
  }
  trap stop_client EXIT
  trap 'exit 143' TERM INT

  "$client_bin" >"$E2E_WORK/client.log" 2>&1 &
  client_pid=$!

  # The sign-in dialog is the first window titled "Tallowdesk".
  wait_for 30 xdotool search --onlyvisible --name '^Tallowdesk$' ||
    fail "no window titled Tallowdesk appeared (see $E2E_WORK/client.log)"
  dialog=$(xdotool search --onlyvisible --name '^Tallowdesk$' | head -n 1)
  sleep 1 # let it paint
  import -window "$dialog" "$outdir/e2e-signin.png" || fail "could not capture the sign-in dialog"
  check_png "$outdir/e2e-signin.png"

  # The dialog is pre-filled from the remembered account: Enter presses OK.
  xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
  xdotool key --clearmodifiers Return

  # The main window is another window of the same title, with a menu bar.
  main_window() {
    local w
    for w in $(xdotool search --onlyvisible --name '^Tallowdesk$'); do
      [ "$w" != "$dialog" ] && echo "$w" && return 0
    done
    return 1
  }
  wait_for 30 main_window || fail "the main window did not appear after signing in"
  frame=$(main_window)
  sleep 3 # categories, folders and the first listing arrive from the service
  import -window "$frame" "$outdir/e2e-main.png" || fail "could not capture the main window"
  check_png "$outdir/e2e-main.png"

  # Choose the folder in the tree: a click into the tree's first row gives it
  # the focus, typing the name selects the folder, which lists it.
  eval "$(xdotool getwindowgeometry --shell "$frame")"
  xdotool windowfocus "$frame" 2>/dev/null
  tree_x=$((X + 60))
  first_row_y=$((Y + ${E2E_FIRST_ROW_OFFSET:-80}))
  xdotool mousemove --sync "$tree_x" "$first_row_y" click 1
  sleep 1
  xdotool type --delay 40 "Server"
  sleep 4 # 250 entries in three pages
  import -window "$frame" "$outdir/e2e-folder.png" || fail "could not capture the opened folder"
  check_png "$outdir/e2e-folder.png"

  # Go back to the location shown before.
  xdotool key --clearmodifiers alt+Left
  sleep 3
  import -window "$frame" "$outdir/e2e-back.png" || fail "could not capture the window after Go back"
  check_png "$outdir/e2e-back.png"

  cmp -s "$outdir/e2e-folder.png" "$outdir/e2e-back.png" &&
    fail "Go back changed nothing on the screen"
  xdotool search --name Tallowdesk >/dev/null || fail "xdotool search --name Tallowdesk found nothing"

  # Exit through the File menu, as a user would; the trap kills it otherwise.
  xdotool key --clearmodifiers alt+f
  sleep 0.5
  xdotool key x
  if wait_for 10 bash -c "! kill -0 $client_pid"; then
    wait "$client_pid" 2>/dev/null
    client_pid=
  fi
  exit 0
fi

# ---------------------------------------------------------------------------
# Outside: prepare the service and the settings, then run the part above
# under xvfb-run.
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || skip "$tool is missing (Debian packages: xvfb xdotool imagemagick)"
done
for bin in "$server_bin" "$client_bin" "$cli_bin"; do
  [ -x "$bin" ] || fail "$bin is not built"
done

mkdir -p "$outdir" || fail "cannot create $outdir"
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-e2e.XXXXXX") || fail "no temp folder"
export E2E_WORK=$work
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

"$server_bin" --data-dir "$work/server" --port 0 --demo >"$work/server.log" 2>&1 &
server_pid=$!
port_line() { grep -m1 -o 'listening on https://localhost:[0-9]*' "$work/server.log"; }
wait_for 30 port_line || {
  cat "$work/server.log" >&2
  fail "the service did not start"
}
port=$(port_line | sed 's/.*://')
echo "service on port $port"

export XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
bash "$(dirname "$0")/../../scripts/write-local-config.sh" "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" \
  "$port" "$work/server/cert.pem"

echo tallowdesk-demo | "$cli_bin" login demo@tallowdesk.test --remember >"$work/cli.log" 2>&1 || {
  cat "$work/cli.log" >&2
  fail "tallowdesk-cli could not remember the demo account"
}

unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside-x "$server_bin" "$client_bin" "$cli_bin" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the window check ended with status $status"
fi
for shot in e2e-signin e2e-main e2e-folder e2e-back; do
  echo "screenshot: $outdir/$shot.png"
done
echo "PASSED"
