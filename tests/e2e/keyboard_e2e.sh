#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window by keys alone under a virtual X server (xdotool key and type, no
# pointer), each step checked through the service with tallowdesk-cli:
#   sign in (Enter); the list shows the root folder and keeps it while the
#   focus moves (Shift+Tab into the tree, F6 out and in, the window moved by
#   the window manager, minimised and activated); Back (Alt+Left) shows it
#   again after a category chosen in the tree and after a folder opened;
#   open "Projects" then "Garden Shed" (type-ahead, Enter), go
#   up (Alt+Up), sort by size (View > Sort Items > by Size): the rows, read
#   through the accessibility bus, follow the sizes the service lists; search
#   (Ctrl+F): the rows are the service's results; back with F5;
#   create a folder (Ctrl+Shift+N) and rename it (F2): it is in /Projects;
#   share it with a colleague (Ctrl+Shift+H): the service lists the rule;
#   move it to the trash (Delete): it is gone from /Projects; choose the Trash
#   in the tree (F6, Home, Down) and restore it (Commands > Restore): it is back
#   in /Projects.
# The window manager (openbox) moves the window; the script still gives the
# focus back to the main window after a dialog closes, as a user would click it.
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
  e2e_inside
  # The rows are read back as a screen reader reads them.
  e2e_start_a11y_bus
  # A window manager, for the move of the window below.
  openbox >"$E2E_WORK/openbox.log" 2>&1 &
  openbox_pid=$!
  trap 'kill "$openbox_pid" 2>/dev/null; e2e_stop_inside' EXIT
  sleep 1
  e2e_start_client "$client_bin"
  e2e_sign_in_dialog
  # The window manager gives the new dialog the focus.
  wait_for 10 xdotool getactivewindow || fail "no window manager runs (see $E2E_WORK/openbox.log)"
  e2e_sign_in
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
  # The list's rows in the window's order, through the accessibility bus.
  rows() { timeout 20 /usr/bin/python3 "$here/list_rows.py" >"$E2E_WORK/rows.txt" 2>"$E2E_WORK/rows.err"; }

  # The place stays while the focus moves: Tab into the tree, F6 out of it
  # and back, the window moved by the window manager and focused again; each
  # time the list's rows are the service's root folder. Back (Alt+Left)
  # returns to it from a category chosen in the tree and from a folder
  # opened in the list.
  timeout 30 "$cli_bin" ls / --json >"$E2E_WORK/root.json" 2>"$E2E_WORK/cli.log" ||
    fail "tallowdesk-cli ls / failed"
  # rows_are JSON: the list's rows are the titles of that answer of the
  # service, in any order, and there is at least one.
  rows_are() {
    rows && /usr/bin/python3 - "$1" "$E2E_WORK/rows.txt" <<'PY'
import json, sys
want = sorted(e["title"] for e in json.load(open(sys.argv[1])))
shown = sorted(line.rstrip("\n") for line in open(sys.argv[2], encoding="utf-8"))
sys.exit(0 if want and shown == want else 1)
PY
  }
  at_root() { rows_are "$E2E_WORK/root.json"; }
  elsewhere() { rows && [ -s "$E2E_WORK/rows.txt" ] && ! at_root; }
  shown() { tr '\n' '|' <"$E2E_WORK/rows.txt"; }
  focus_on() {
    timeout 20 /usr/bin/python3 "$here/list_rows.py" --focused >"$E2E_WORK/focus.txt" 2>&1 &&
      [ "$(cat "$E2E_WORK/focus.txt")" = "$1" ]
  }
  # A listing started by the focus change would empty the list at once and
  # show its "Processing" window.
  listed() {
    sleep 1
    wait_for 60 listing_done || fail "a listing did not end ($1)"
  }
  still_root() {
    listed "$1"
    at_root || fail "$1: the list no longer shows the root folder but $(shown)"
  }
  wait_for 10 at_root || fail "after signing in the list does not show the root folder: $(shown)"
  wait_for 10 focus_on "Files and folders" || fail "after signing in the focus is on $(cat "$E2E_WORK/focus.txt")"
  # Shift+Tab goes from the list to the tree before it; round the other
  # controls should the order ever change.
  for _ in 1 2 3 4 5 6; do
    keys shift+Tab
    sleep 0.3
    focus_on "Folders" && break
  done
  focus_on "Folders" || fail "Tab did not reach the tree (the focus is on $(cat "$E2E_WORK/focus.txt"))"
  still_root "Tab into the tree"
  keys F6
  wait_for 10 focus_on "Files and folders" || fail "F6 did not move the focus to the list"
  keys F6
  wait_for 10 focus_on "Folders" || fail "F6 did not move the focus into the tree: $(cat "$E2E_WORK/focus.txt")"
  still_root "F6 into the tree"
  # Moved by the window manager, then away (minimised) and back: the window
  # loses the focus and gets it again with the tree as its focus widget.
  # The window found at sign-in may have been made anew since: the one
  # the window manager has active now (the list's keys went to it).
  frame=$(xdotool getactivewindow 2>/dev/null)
  [ "$(xdotool getwindowname "$frame" 2>/dev/null)" = Tallowdesk ] || fail "the active window is not the main window"
  xdotool windowmove --sync "$frame" 40 60 2>/dev/null || fail "the window manager did not move the window"
  xdotool windowminimize --sync "$frame" 2>/dev/null || fail "the window manager did not minimise the window"
  not_active() { [ "$(xdotool getactivewindow 2>/dev/null)" != "$frame" ]; }
  wait_for 10 not_active || fail "the minimised window kept the focus"
  # Qt takes a focus that comes back within a moment as never lost.
  sleep 1
  xdotool windowactivate --sync "$frame" 2>/dev/null || fail "the window could not be activated"
  wait_for 10 focus_on "Folders" || fail "after the move the focus is on $(cat "$E2E_WORK/focus.txt")"
  still_root "the window moved and focused"
  # A category by choice (the tree's first node), then Back.
  keys Home
  listed "the first category"
  wait_for 10 elsewhere || fail "choosing the tree's first node still shows the root folder"
  keys alt+Left
  listed "Back from the category"
  wait_for 10 at_root || fail "Back from the category does not show the root folder but $(shown)"
  keys F6
  wait_for 10 focus_on "Files and folders" || fail "F6 did not move the focus back to the list"
  # A folder opened from the list, then Back.
  typed "Projects"
  keys Return
  listed "Projects"
  wait_for 10 elsewhere || fail "opening Projects still shows the root folder"
  keys alt+Left
  listed "Back from Projects"
  wait_for 10 at_root || fail "Back from Projects does not show the root folder but $(shown)"

  # Open a folder and one inside it, then up one level (back in Projects).
  typed "Projects"
  keys Return
  settle "Projects"
  typed "Garden"
  keys Return
  settle "Garden Shed"
  keys alt+Up
  settle "up to Projects"

  # Sort by size through the View menu: the files of Projects (three of
  # them uploaded with sizes against their names' order) are in the order of
  # the sizes the service lists, one way or the other.
  keys alt+v o z
  timeout 30 "$cli_bin" ls /Projects --json >"$E2E_WORK/projects.json" 2>"$E2E_WORK/cli.log" ||
    fail "tallowdesk-cli ls /Projects failed"
  by_size() {
    rows && /usr/bin/python3 - "$E2E_WORK/projects.json" "$E2E_WORK/rows.txt" <<'PY'
import json, sys
sizes = {e["title"]: int(e["quotaBytesUsed"]) for e in json.load(open(sys.argv[1]))
         if e["kind"] == "file" and e.get("quotaBytesUsed") is not None}
shown = [line.rstrip("\n") for line in open(sys.argv[2], encoding="utf-8")]
files = [sizes[t] for t in shown if t in sizes]
ours = {"Size a.bin", "Size b.bin", "Size c.bin"}
ok = ours <= set(shown) and (files == sorted(files) or files == sorted(files, reverse=True))
sys.exit(0 if ok else 1)
PY
  }
  wait_for 10 by_size || fail "sorted by size, the rows are not in the service's size order: $(tr '\n' '|' <"$E2E_WORK/rows.txt")"

  # Search for a name: the rows are the service's results; back with F5.
  keys ctrl+f
  wait_for 15 window_named '^Search$' || fail "Ctrl+F opened no Search dialog"
  typed "Shed plan"
  keys Return
  settle "search"
  timeout 30 "$cli_bin" search Shed plan --json >"$E2E_WORK/found.json" 2>"$E2E_WORK/cli.log" ||
    fail "tallowdesk-cli search failed"
  found() { rows_are "$E2E_WORK/found.json"; }
  wait_for 10 found || fail "the search shows $(tr '\n' '|' <"$E2E_WORK/rows.txt"), not the service's results"
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
e2e_need "xvfb xdotool dbus at-spi2-core openbox" xvfb-run xdotool dbus-run-session dbus-send \
  /usr/libexec/at-spi-bus-launcher openbox
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || fail "pyatspi is missing (Debian packages: python3-pyatspi gir1.2-atspi-2.0)"
e2e_work keyboard
e2e_start_service "$server_bin"
e2e_settings "$cli_bin"
# Three files whose sizes go against their names' order, so that only a
# sort by size puts them in order.
mkdir -p "$work/sizes"
head -c 2000 /dev/zero >"$work/sizes/Size a.bin"
head -c 3000 /dev/zero >"$work/sizes/Size b.bin"
head -c 1000 /dev/zero >"$work/sizes/Size c.bin"
timeout 60 "$cli_bin" put "$work/sizes/Size a.bin" "$work/sizes/Size b.bin" "$work/sizes/Size c.bin" \
  --to /Projects --quiet >"$work/cli.log" 2>&1 || fail "tallowdesk-cli could not upload the sized files"

started=$SECONDS
E2E_X_LIMIT=200 e2e_in_x_with_bus "$0" --inside "$client_bin" "$cli_bin"
status=$?
echo "keyboard run: $((SECONDS - started)) s"
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the keyboard run ended with status $status"
fi
echo "PASSED"
