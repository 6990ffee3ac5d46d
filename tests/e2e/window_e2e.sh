#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window end to end under a virtual X server:
#   1. the real service on a free port with a fresh data folder and the demo account;
#   2. a fresh settings folder that points the client at it and remembers the account
#      (through tallowdesk-cli, as a user would);
#   3. the real window: the pre-filled sign-in dialog is confirmed with Enter, the
#      folder "Server Logs 2025" is chosen in the tree, then Alt+Left goes back;
#   4. two files are uploaded through the list's context menu and Qt's own file
#      dialog, and a folder tree is pasted from the clipboard (text/uri-list);
#      the service is asked (tallowdesk-cli ls) that all of it arrived;
#   5. the three are selected in the list and downloaded back through Download and
#      the folder picker; the bytes are compared with the originals;
#   6. a second download into the same folder leaves the transfer window open with
#      its detail line, which is captured with the details shown;
#   7. screenshots (PNG, kept out of git) in OUTDIR: sign-in, main window, folder,
#      Go back, the context menu open, the transfer window with its details.
# Every step waits for a condition (a window, a file, the service's listing), never
# for a fixed time.
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

fail() {
  echo "FAILED: $*" >&2
  # Inside the virtual display: what the screen showed when it failed.
  [ "$inside_x" = 1 ] && import -window root "$outdir/e2e-failure.png" 2>/dev/null
  exit 1
}

. "$(dirname "$0")/e2e_lib.sh"

# ---------------------------------------------------------------------------
# Inside the virtual display: drive the window.
if [ "$inside_x" = 1 ]; then
  e2e_inside
  e2e_start_client "$client_bin"

  # The sign-in dialog is the first window titled "Tallowdesk", pre-filled
  # from the remembered account: Enter presses OK.
  e2e_sign_in_dialog
  import -window "$dialog" "$outdir/e2e-signin.png" || fail "could not capture the sign-in dialog"
  check_png "$outdir/e2e-signin.png"
  e2e_sign_in
  import -window "$frame" "$outdir/e2e-main.png" || fail "could not capture the main window"
  check_png "$outdir/e2e-main.png"

  # Choose the folder in the tree: a click into the tree's first row gives it
  # the focus, typing the name selects the folder, which lists it.
  eval "$(xdotool getwindowgeometry --shell "$frame")"
  xdotool windowfocus "$frame" 2>/dev/null
  tree_x=$((X + 60))
  first_row_y=$((Y + ${E2E_FIRST_ROW_OFFSET:-80}))
  xdotool mousemove --sync "$tree_x" "$first_row_y" click 1
  wait_for 30 listing_done || fail "the listing after the click did not end"
  xdotool type --delay 40 "Server"
  # 250 entries in three pages; the status bar is not readable from here, the
  # processing window is.
  wait_for 5 window_named '^Processing......$' || true
  wait_for 60 listing_done || fail "the folder listing did not end"
  import -window "$frame" "$outdir/e2e-folder.png" || fail "could not capture the opened folder"
  check_png "$outdir/e2e-folder.png"

  # Go back to the location shown before.
  xdotool key --clearmodifiers alt+Left
  wait_for 5 window_named '^Processing......$' || true
  wait_for 60 listing_done || fail "the listing after Go back did not end"
  import -window "$frame" "$outdir/e2e-back.png" || fail "could not capture the window after Go back"
  check_png "$outdir/e2e-back.png"

  cmp -s "$outdir/e2e-folder.png" "$outdir/e2e-back.png" &&
    fail "Go back changed nothing on the screen"
  xdotool search --name Tallowdesk >/dev/null || fail "xdotool search --name Tallowdesk found nothing"

  # --- Into the folder "Photos" (three rows, room below them): focus the
  # tree and type the name.
  xdotool mousemove --sync "$tree_x" "$first_row_y" click 1
  wait_for 30 listing_done || fail "the listing after the click did not end"
  xdotool type --delay 40 "Photos"
  wait_for 5 window_named '^Processing......$' || true
  wait_for 60 listing_done || fail "the listing of Photos did not end"

  # --- Upload through the context menu and Qt's own file dialog.
  # Popup menus are override-redirect windows that xdotool does not list: a menu
  # is open once the screen differs from the shot taken just before.
  shot_before() { import -window root "$E2E_WORK/before.png"; }
  menu_open() {
    import -window root "$E2E_WORK/now.png" &&
      # compare's status says "different"; only its pixel count matters here.
      { compare -metric AE "$E2E_WORK/before.png" "$E2E_WORK/now.png" null: 2>&1 || true; } |
      awk '{ exit !($1 + 0 > 500) }'
  }
  eval "$(xdotool getwindowgeometry --shell "$frame")"
  list_x=$((X + 520)) empty_y=$((Y + HEIGHT - 60))
  # A click below the rows leaves nothing selected; a right click opens the menu.
  xdotool mousemove --sync "$list_x" "$empty_y" click 1
  shot_before
  xdotool mousemove --sync "$list_x" "$empty_y" click 3
  wait_for 10 menu_open || fail "the list's context menu did not open"
  import -window root "$outdir/e2e-context-menu.png" || fail "could not capture the context menu"
  check_png "$outdir/e2e-context-menu.png"
  xdotool key --clearmodifiers u # "&Upload..."
  picker() { xdotool search --onlyvisible --name '^(Open|Tallowdesk)$' | grep -v -x -e "$frame" -e "$dialog" | head -n 1 | grep .; }
  wait_for 15 picker || fail "the file dialog of Upload did not open"
  xdotool windowfocus --sync "$(picker)" 2>/dev/null
  xdotool type --delay 20 "$E2E_WORK/up/"
  xdotool key Return
  xdotool type --delay 20 '"one.txt" "two.bin"'
  xdotool key Return
  wait_for 15 bash -c "! xdotool search --onlyvisible --name '^Open\$' | grep -q ." ||
    fail "the file dialog did not close"
  uploaded() { "$cli_bin" ls /Photos >"$E2E_WORK/ls.txt" 2>&1 && grep -q 'one.txt' "$E2E_WORK/ls.txt" &&
    grep -q 'two.bin' "$E2E_WORK/ls.txt"; }
  wait_for 60 uploaded || fail "the service does not list the two uploaded files"
  wait_for 30 no_window_named '^Transferring Progress $' ||
    fail "the transfer window of the upload stayed open"

  # --- Paste a folder tree copied as a file list.
  printf 'file://%s\n' "$E2E_WORK/up/Tree" | xclip -selection clipboard -t text/uri-list -i
  xdotool mousemove --sync "$list_x" "$empty_y" click 1
  xdotool key --clearmodifiers ctrl+v
  tree_uploaded() { "$cli_bin" ls /Photos/Tree/Middle/Deep >"$E2E_WORK/ls-deep.txt" 2>&1 &&
    grep -q 'deep.bin' "$E2E_WORK/ls-deep.txt"; }
  wait_for 60 tree_uploaded || fail "the service does not list the pasted folder tree"
  wait_for 30 no_window_named '^Transferring Progress $' ||
    fail "the transfer window of the paste stayed open"

  # --- Download the three back: they are the first three rows (uploads go on top).
  xdotool mousemove --sync "$list_x" "$empty_y" click 1
  xdotool key --clearmodifiers Home shift+Down shift+Down
  shot_before
  xdotool key --clearmodifiers Menu
  wait_for 10 menu_open || fail "the context menu of three rows did not open"
  xdotool key --clearmodifiers d # "&Download..."
  wait_for 15 window_named '^Select the folder:$' || fail "the folder picker of Download did not open"
  xdotool windowfocus --sync "$(window_named '^Select the folder:$')" 2>/dev/null
  xdotool type --delay 20 "$E2E_WORK/down"
  xdotool key Return
  downloaded() { [ -f "$E2E_WORK/down/Tree/Middle/Deep/deep.bin" ] && [ -f "$E2E_WORK/down/one.txt" ] &&
    [ -f "$E2E_WORK/down/two.bin" ] && no_window_named '^Transferring Progress $'; }
  wait_for 60 downloaded || fail "the download did not bring the three items back"
  diff -r "$E2E_WORK/up/Tree" "$E2E_WORK/down/Tree" || fail "the downloaded tree differs"
  cmp "$E2E_WORK/up/one.txt" "$E2E_WORK/down/one.txt" || fail "one.txt differs"
  cmp "$E2E_WORK/up/two.bin" "$E2E_WORK/down/two.bin" || fail "two.bin differs"

  # --- Again into the same folder: each taken name is a question (a folder
  # and two files); Keep Both (the default button) leaves the first copies
  # alone and brings numbered ones.
  # The transfer window had the focus; the three rows are still selected.
  xdotool windowfocus --sync "$frame" 2>/dev/null || xdotool windowfocus "$frame"
  shot_before
  xdotool key --clearmodifiers Menu
  wait_for 10 menu_open || fail "the context menu did not open again"
  xdotool key --clearmodifiers d
  wait_for 15 window_named '^Select the folder:$' || fail "the folder picker did not open again"
  xdotool windowfocus --sync "$(window_named '^Select the folder:$')" 2>/dev/null
  xdotool type --delay 20 "$E2E_WORK/down"
  xdotool key Return
  answered=none
  new_clash() {
    xdotool search --onlyvisible --name '^Name Already Taken$' 2>/dev/null |
      grep -vxF -e "${answered// /$'\n'}" | head -n 1 | grep .
  }
  kept_both() { [ -f "$E2E_WORK/down/Tree (2)/Middle/Deep/deep.bin" ] && [ -f "$E2E_WORK/down/one (2).txt" ] &&
    [ -f "$E2E_WORK/down/two (2).bin" ] && no_window_named '^Transferring Progress $'; }
  for _ in 1 2 3; do
    wait_for 30 new_clash || fail "no question about a name already taken"
    clash=$(new_clash)
    [ "$answered" = none ] && { import -window "$clash" "$outdir/e2e-name-clash.png" &&
      check_png "$outdir/e2e-name-clash.png"; }
    xdotool windowfocus --sync "$clash" 2>/dev/null
    xdotool key --clearmodifiers Return
    answered="$answered $clash"
  done
  wait_for 60 kept_both || fail "Keep Both did not bring numbered copies"
  diff -r "$E2E_WORK/up/Tree" "$E2E_WORK/down/Tree (2)" || fail "the numbered tree differs"
  cmp "$E2E_WORK/up/one.txt" "$E2E_WORK/down/one (2).txt" || fail "one (2).txt differs"
  cmp "$E2E_WORK/up/one.txt" "$E2E_WORK/down/one.txt" || fail "the first one.txt was touched"

  # Exit through the File menu, as a user would; the trap kills it otherwise.
  xdotool windowfocus --sync "$frame" 2>/dev/null
  shot_before
  xdotool key --clearmodifiers alt+f
  wait_for 5 menu_open || true
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
e2e_need "xvfb xdotool imagemagick xclip" xvfb-run xdotool import xclip
for bin in "$server_bin" "$client_bin" "$cli_bin"; do
  [ -x "$bin" ] || fail "$bin is not built"
done

mkdir -p "$outdir" || fail "cannot create $outdir"
rm -f "$outdir/e2e-failure.png"
e2e_work e2e
e2e_start_service "$server_bin"
echo "service on port $port"
e2e_settings "$cli_bin"

# The local tree to upload: two files, and a folder three levels deep.
mkdir -p "$work/up/Tree/Middle/Deep" "$work/down"
printf 'first file\n' >"$work/up/one.txt"
head -c 70000 /dev/urandom >"$work/up/two.bin"
printf 'top\n' >"$work/up/Tree/top.txt"
printf 'middle\n' >"$work/up/Tree/Middle/mid.txt"
head -c 300000 /dev/urandom >"$work/up/Tree/Middle/Deep/deep.bin"

e2e_in_x "$0" --inside-x "$server_bin" "$client_bin" "$cli_bin" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the window check ended with status $status"
fi
for shot in e2e-signin e2e-main e2e-folder e2e-back e2e-context-menu e2e-transfer-details; do
  echo "screenshot: $outdir/$shot.png"
done
echo "PASSED"
