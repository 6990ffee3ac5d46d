#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window by keys alone under a virtual X server (xdotool key and type, no
# pointer), each step checked through the service with tallowdesk-cli:
#   sign in (Enter), open "Projects" then "Garden Shed" (type-ahead, Enter), go
#   up (Alt+Up), sort by size (View > Sort Items > by Size), search (Ctrl+F),
#   create a folder (Ctrl+Shift+N) and rename it (F2): it is in /Projects;
#   share it with a colleague (Ctrl+Shift+H): the service lists the rule;
#   move it to the trash (Delete): it is gone from /Projects; choose the Trash
#   in the tree (F6, Home, Down) and restore it (Commands > Restore): it is back
#   in /Projects.
# Without a window manager a closed dialog leaves the keyboard focus nowhere;
# the script gives it back to the main window as a window manager would.
#
# Usage: keyboard_e2e.sh SERVER CLIENT CLI
set -uo pipefail

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

if [ "${1:-}" = "--inside" ]; then
  client_bin=$2 cli_bin=$3
  client_pid=
  stop() { [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null; }
  trap stop EXIT
  trap 'exit 143' TERM INT
  "$client_bin" >"$E2E_WORK/client.log" 2>&1 &
  client_pid=$!

  wait_for 30 window_named '^Tallowdesk$' || fail "no sign-in dialog (see $E2E_WORK/client.log)"
  dialog=$(window_named '^Tallowdesk$')
  xdotool windowfocus --sync "$dialog" 2>/dev/null
  xdotool key --clearmodifiers Return
  main_window() {
    local w
    for w in $(xdotool search --onlyvisible --name '^Tallowdesk$'); do
      [ "$w" != "$dialog" ] && echo "$w" && return 0
    done
    return 1
  }
  wait_for 30 main_window || fail "the main window did not appear after Enter"
  frame=$(main_window)
  listing_done() { no_window_named '^Processing......$'; }
  settle() {
    wait_for 3 window_named '^Processing......$' || true
    wait_for 60 listing_done || fail "a listing did not end ($1)"
  }
  settle "first listing"
  focus_frame() { xdotool windowfocus --sync "$frame" 2>/dev/null || xdotool windowfocus "$frame"; }
  focus_frame
  keys() { xdotool key --clearmodifiers --delay 80 "$@"; }
  typed() { xdotool type --delay 60 "$1"; }
  has() { timeout 30 "$cli_bin" ls "$1" >"$E2E_WORK/ls.txt" 2>&1 && grep -qF "$2" "$E2E_WORK/ls.txt"; }
  # The sharing dialog reads the rules before it takes input.
  acl_read() { ! window_named '^Processing' >/dev/null; }
  lacks() { timeout 30 "$cli_bin" ls "$1" >"$E2E_WORK/ls.txt" 2>&1 && ! grep -qF "$2" "$E2E_WORK/ls.txt"; }

  # Open a folder and one inside it, then up one level (back in Projects).
  typed "Projects"
  keys Return
  settle "Projects"
  typed "Garden"
  keys Return
  settle "Garden Shed"
  keys alt+Up
  settle "up to Projects"

  # Sort by size through the View menu; search for a name and come back with F5.
  keys alt+v o z
  keys ctrl+f
  wait_for 15 window_named '^Search$' || fail "Ctrl+F opened no Search dialog"
  typed "Shed plan"
  keys Return
  settle "search"
  focus_frame
  keys F5
  settle "F5 after the search"

  # Create a folder where the list is (Projects, if Up went there), rename it.
  keys ctrl+shift+n
  wait_for 15 window_named '^Please input the name of the folder$' ||
    fail "Ctrl+Shift+N opened no create-folder dialog"
  typed "Kbd folder"
  keys Return
  wait_for 30 has /Projects "Kbd folder" || fail "the new folder is not in /Projects (Up or Create failed)"
  focus_frame
  keys F5
  settle "F5 after Create Folder"
  typed "Kbd"
  keys F2 ctrl+a
  typed "Kbd renamed"
  keys Return
  wait_for 30 has /Projects "Kbd renamed" || fail "the rename by F2 did not reach the service"
  wait_for 10 no_window_named '^Processing......$' || true

  # Share it: Ctrl+Shift+H, Tab from the visibility box past the people to the
  # addresses, Enter presses Share.
  focus_frame
  keys F5
  settle "F5 after the rename"
  typed "Kbd"
  keys ctrl+shift+h
  wait_for 15 window_named '^Sharing settings$' || fail "Ctrl+Shift+H opened no sharing dialog"
  share=$(window_named '^Sharing settings$')
  # The rules are read behind a "Processing" window that may show only a
  # moment later on a busy machine: wait for it to come and go, then give
  # the dialog the focus back before typing into it.
  wait_for 5 window_named '^Processing' >/dev/null || true
  wait_for 15 acl_read || fail "the sharing dialog did not read the entry's rules"
  xdotool windowfocus --sync "$share" 2>/dev/null
  sleep 0.5
  keys Tab Tab
  typed "robin@tallowdesk.test"
  keys Return
  shared() { timeout 30 "$cli_bin" acl "/Projects/Kbd renamed" >"$E2E_WORK/acl.txt" 2>&1 &&
    grep -qF "robin@tallowdesk.test" "$E2E_WORK/acl.txt"; }
  wait_for 30 shared || fail "the share by keys did not reach the service"
  keys Escape
  wait_for 15 no_window_named '^Sharing settings$' || fail "Escape did not close the sharing dialog"

  # To the trash with Delete; back with Restore from the Trash's menu.
  focus_frame
  typed "Kbd"
  keys Delete
  wait_for 30 lacks /Projects "Kbd renamed" || fail "Delete did not move the folder to the trash"
  focus_frame
  keys F6 Home Down Down Down Down Down
  settle "the Trash"
  keys F6
  typed "Kbd"
  keys alt+c o
  wait_for 30 has /Projects "Kbd renamed" || fail "Restore did not bring the folder back into /Projects"
  exit 0
fi

server_bin=$1 client_bin=$2 cli_bin=$3
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (Debian packages: xvfb xdotool)"
done
e2e_work keyboard
e2e_start_service "$server_bin"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
bash "$here/../../scripts/write-local-config.sh" "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" \
  "$port" "$work/server/cert.pem"
echo tallowdesk-demo | timeout 30 "$cli_bin" login demo@tallowdesk.test --remember >"$work/cli.log" 2>&1 ||
  fail "tallowdesk-cli could not remember the demo account"

unset QT_QPA_PLATFORM
started=$SECONDS
timeout 200 xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside "$client_bin" "$cli_bin"
status=$?
echo "keyboard run: $((SECONDS - started)) s"
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the keyboard run ended with status $status"
fi
echo "PASSED"
