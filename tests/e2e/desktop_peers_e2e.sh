#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window beside the file managers a user has (Debian's thunar and
# pcmanfm) under a virtual X server with a window manager (openbox), driven
# with xdotool as a person drags (press, many small moves, release):
#   0. a native document dragged onto thunar from a service without
#      LibreOffice: nothing arrives, one warning box, owned by the progress
#      window and stacked over it;
#   1. a row hovered over thunar and the drag cancelled with Escape
#      downloads nothing (the service's request log shows no download); the
#      300 MiB file row dragged onto thunar arrives byte-identical;
#   2. a folder row dragged onto thunar arrives as the same tree;
#   3. the same folder row dragged onto pcmanfm arrives as the same tree;
#      hovering over pcmanfm and Escape downloads nothing; the 300 MiB row
#      dragged onto pcmanfm arrives byte-identical;
#   4. pcmanfm's folder dragged onto the list while Starred is shown is
#      refused (no upload in the request log), and dropped on the list's
#      folder row "Tree" lands inside that folder, the same tree;
#   4b. after those drops, a row dragged onto pcmanfm still arrives;
#   5. four files copied in pcmanfm and pasted into the window: all uploaded;
#   6. a file dragged from pcmanfm onto the tree: refused by the category
#      node Trash, taken into the folder of the folder node Zbig.
# Screenshots in OUTDIR. Everything started here is stopped on the way out.
#
# Usage: desktop_peers_e2e.sh SERVER CLIENT CLI OUTDIR
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
  [ -n "${DISPLAY:-}" ] && import -window root "$outdir/peers-failed.png" 2>/dev/null
  exit 1
}

. "$(dirname "$0")/e2e_lib.sh"

# Presses at (x1,y1), moves in 20 steps to (x2,y2); the caller releases.
press_and_move() {
  local x1=$1 y1=$2 x2=$3 y2=$4 i
  xdotool mousemove --sync "$x1" "$y1"
  sleep 0.3
  xdotool mousedown 1
  sleep 0.2
  for i in $(seq 1 20); do
    xdotool mousemove --sync $((x1 + (x2 - x1) * i / 20)) $((y1 + (y2 - y1) * i / 20))
    sleep 0.08
  done
  xdotool mousemove --sync $((x2 + 4)) $((y2 + 4))
  sleep 0.6
}

# The log's fields of a request are not side by side ("scheme" and "source"
# stand between the method and the target): both on one line is enough.
downloads() { grep -c '"method":"GET",.*"target":"[^"]*/download' "$E2E_WORK/requests.log"; }
uploads() { grep -c '"method":"\(POST\|PUT\)"' "$E2E_WORK/requests.log"; }

# Opens the folder NAME in the list: a click into the tree, then its name.
open_folder() {
  xdotool mousemove --sync $((fx + 60)) $((fy + ${E2E_FIRST_ROW_OFFSET:-80})) click 1
  sleep 0.5
  xdotool type --delay 40 "$1"
  sleep 3
}

# The big file arrived whole: the size first, so that a copy still being
# written is not read over and over.
same_big() {
  [ "$(stat -c %s "$1" 2>/dev/null)" = "$(stat -c %s "$E2E_WORK/local/Zbig/big.bin")" ] &&
    cmp -s "$1" "$E2E_WORK/local/Zbig/big.bin"
}

# Hovers the first row over (x,y) of a file manager and presses Escape:
# nothing downloaded, nothing new in its folder.
hover_then_escape() {
  local x=$1 y=$2 folder=$3 name=$4 before listed
  before=$(downloads)
  listed=$(ls -A "$folder")
  press_and_move "$row_x" "$row_y" "$x" "$y"
  import -window root "$outdir/peers-hover-$name.png" 2>/dev/null
  xdotool key Escape
  sleep 0.3
  xdotool mouseup 1
  sleep 3
  [ "$(downloads)" = "$before" ] || fail "hovering over $name and Escape downloaded something"
  [ "$(ls -A "$folder")" = "$listed" ] || fail "a cancelled drag left something in $name's folder"
  echo "hover over $name then Escape: no download"
}

# Zbig's big row hovered over (x,y) of a file manager and Escape, then
# dragged there again and dropped: it arrives whole in its folder, and is
# removed once checked (the disk is not endless).
drag_big() {
  local x=$1 y=$2 folder=$3 name=$4
  open_folder "Zbig"
  import -window root "$outdir/peers-zbig-$name.png" 2>/dev/null
  hover_then_escape "$x" "$y" "$folder" "$name"
  press_and_move "$row_x" "$row_y" "$x" "$y"
  import -window root "$outdir/peers-big-over-$name.png" 2>/dev/null
  xdotool mouseup 1
  wait_for 120 same_big "$folder/big.bin" ||
    fail "big.bin did not arrive whole at $name ($(ls -la "$folder" | tr '\n' ' '))"
  echo "dragged onto $name: big.bin ($(stat -c %s "$folder/big.bin") bytes)"
  wait_for 60 no_window_named '^Downloading' || true
  rm -f "$folder/big.bin"
}

# The window stacked lowest of the two given (their ids in decimal), by the
# window manager's list, bottom first.
stacked_below() {
  local below=$1 above=$2 order
  order=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*#//; s/,/ /g')
  local w seen_below=0
  for w in $order; do
    [ "$((w))" = "$below" ] && seen_below=1
    [ "$((w))" = "$above" ] && [ "$seen_below" = 1 ] && return 0
  done
  return 1
}

if [ "$inside_x" = 1 ]; then
  e2e_inside
  openbox >"$E2E_WORK/openbox.log" 2>&1 &
  e2e_started $!
  sleep 1
  e2e_start_client "$client_bin"
  e2e_sign_in
  # The window manager may still be placing the new window: ask again
  # until it sits in the corner the drags start from.
  at_corner() {
    xdotool windowsize --sync "$frame" 640 700 2>/dev/null
    xdotool windowmove --sync "$frame" 0 0 2>/dev/null
    eval "$(xdotool getwindowgeometry --shell "$frame")"
    [ "$X" -le 2 ] && [ "$Y" -le 40 ]
  }
  wait_for 20 at_corner || fail "the window could not be moved to the corner"
  sleep 3
  # Under openbox the window sits below its 19-pixel title bar.
  fx=0 fy=19
  row_x=$((fx + 300))
  row_y=$((fy + ${E2E_LIST_ROW_OFFSET:-92}))  # the first row, below the header
  import -window root "$outdir/peers-start.png" 2>/dev/null

  thunar "$E2E_WORK/to-thunar" >"$E2E_WORK/thunar.log" 2>&1 &
  thunar_pid=$!
  e2e_started "$thunar_pid"
  wait_for 30 xdotool search --onlyvisible --class '^Thunar$' || fail "thunar did not appear"
  th=$(xdotool search --onlyvisible --class '^Thunar$' | head -n 1)
  xdotool windowsize --sync "$th" 600 600 2>/dev/null
  xdotool windowmove --sync "$th" 660 40 2>/dev/null
  sleep 1
  xdotool windowactivate --sync "$frame" 2>/dev/null

  # 0. The root folder is shown: its document "Meeting notes" (the seventh
  # row) onto thunar. The service has no LibreOffice, so the export fails:
  # no file, one box, a transient of the progress window (a box of its own
  # was stacked under that window).
  press_and_move "$row_x" $((row_y + 6 * 18)) 950 350
  xdotool mouseup 1
  wait_for 30 window_named '^Warning$' || fail "no warning box after the failed conversion"
  sleep 1
  import -window root "$outdir/peers-native-document.png" 2>/dev/null
  [ "$(xdotool search --onlyvisible --name '^Warning$' | wc -l)" = 1 ] ||
    fail "more than one warning box after the failed conversion"
  no_window_named '^Error$' || fail "an error box beside the warning box"
  box=$(window_named '^Warning$')
  progress=$(window_named '^Transferring Progress $') || fail "the progress window is gone"
  owner=$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*window id # //p')
  [ "$((owner))" = "$progress" ] || fail "the warning box is not owned by the progress window"
  stacked_below "$progress" "$box" || fail "the warning box is stacked under the progress window"
  [ -z "$(ls -A "$E2E_WORK/to-thunar")" ] || fail "the failed conversion left $(ls -A "$E2E_WORK/to-thunar")"
  xdotool windowactivate --sync "$box" key --clearmodifiers Return 2>/dev/null
  xdotool windowactivate --sync "$progress" key --clearmodifiers Escape 2>/dev/null
  wait_for 10 no_window_named '^Transferring Progress $' || fail "the progress window did not close"
  echo "native document onto thunar: one warning box, over the progress window"

  # 1. Zbig's 300 MiB row: hovered over thunar and Escape, then dropped.
  drag_big 950 350 "$E2E_WORK/to-thunar" thunar

  # 2. Ztree's folder row onto thunar.
  open_folder "Ztree"
  import -window root "$outdir/peers-ztree.png" 2>/dev/null
  press_and_move "$row_x" "$row_y" 950 350
  xdotool mouseup 1
  same_tree() { diff -r "$1/Tree" "$E2E_WORK/local/Ztree/Tree"; }
  wait_for 60 same_tree "$E2E_WORK/to-thunar" || fail "the folder Tree did not arrive whole at thunar"
  echo "dragged onto thunar: the folder Tree"
  wait_for 30 no_window_named '^Downloading' || true
  sleep 2
  kill "$thunar_pid" 2>/dev/null

  # 3. The same folder row onto pcmanfm.
  pcmanfm "$E2E_WORK/to-pcmanfm" >"$E2E_WORK/pcmanfm.log" 2>&1 &
  e2e_started $!
  wait_for 30 xdotool search --onlyvisible --class '^Pcmanfm$' || fail "pcmanfm did not appear"
  pc=$(xdotool search --onlyvisible --class '^Pcmanfm$' | head -n 1)
  xdotool windowsize --sync "$pc" 600 600 2>/dev/null
  xdotool windowmove --sync "$pc" 660 40 2>/dev/null
  sleep 1
  xdotool windowactivate --sync "$frame" 2>/dev/null
  sleep 1
  press_and_move "$row_x" "$row_y" 950 350
  import -window root "$outdir/peers-over-pcmanfm.png" 2>/dev/null
  xdotool mouseup 1
  wait_for 60 same_tree "$E2E_WORK/to-pcmanfm" || fail "the folder Tree did not arrive whole at pcmanfm"
  echo "dragged onto pcmanfm: the folder Tree"
  wait_for 30 no_window_named '^Downloading' || true

  # Zbig's 300 MiB row: hovered over pcmanfm and Escape, then dropped.
  # pcmanfm's icons stay where the steps below press: its copy in step 5
  # holds no big file.
  drag_big 950 450 "$E2E_WORK/to-pcmanfm" pcmanfm
  sleep 2

  # 4. Back the other way: pcmanfm's Tree (its first icon) onto the list.
  # Starred holds no files: refused, nothing uploaded.
  wait_for 30 no_window_named '^Downloading' || true
  sleep 1
  xdotool mousemove --sync $((fx + 72)) $((fy + 148)) click 1  # the tree's "Starred"
  sleep 3
  before=$(uploads)
  press_and_move 866 160 $((fx + 400)) $((fy + 400))
  import -window root "$outdir/peers-drop-on-starred.png" 2>/dev/null
  xdotool mouseup 1
  sleep 3
  [ "$(uploads)" = "$before" ] || fail "a drop while Starred is shown was uploaded"
  echo "drop on Starred: refused"
  # On the folder row "Tree" of Ztree: into that folder.
  open_folder "Ztree"
  press_and_move 866 160 "$row_x" "$row_y"
  import -window root "$outdir/peers-drop-on-row.png" 2>/dev/null
  xdotool mouseup 1
  got=$E2E_WORK/got-back
  in_row_folder() {
    rm -rf "$got" && mkdir -p "$got" &&
      "$cli_bin" get /Ztree/Tree/Tree --to "$got" >/dev/null 2>&1 &&
      diff -r "$got/Tree" "$E2E_WORK/local/Ztree/Tree"
  }
  wait_for 60 in_row_folder || fail "the folder dropped on the row Tree did not land inside it"
  echo "drop on the folder row: /Ztree/Tree/Tree"

  # 4b. After pcmanfm's own drags into the window, a row dragged out to
  # pcmanfm still arrives (pcmanfm stamps its hover requests with its clock's
  # seconds; once Qt took that for the server's time, every later drag out
  # was refused until a restart).
  wait_for 30 no_window_named '^Uploading' || true
  open_folder "Zsmall"
  press_and_move "$row_x" "$row_y" 950 450
  import -window root "$outdir/peers-out-after-drop.png" 2>/dev/null
  xdotool mouseup 1
  wait_for 60 cmp -s "$E2E_WORK/to-pcmanfm/small.bin" "$E2E_WORK/local/Zsmall/small.bin" ||
    fail "after the drops in, a row dragged out to pcmanfm did not arrive"
  echo "dragged onto pcmanfm after its drops: small.bin"

  # 5. pcmanfm's copy of several files (its lists end in a NUL, no line
  # break), pasted into Zsmall (shown since 4b): every one uploaded. The copy
  # also holds Tree and small.bin, which Zsmall has already: each question
  # about a name already taken is answered Skip. zz-last.txt sorts last in
  # pcmanfm's list, where the NUL is: a reader that drops the entry before
  # the NUL loses that one (were it small.bin, the loss would pass as a Skip).
  wait_for 30 no_window_named '^Uploading' || true
  xdotool windowactivate --sync "$pc" 2>/dev/null
  xdotool mousemove --sync 1000 550 click 1
  sleep 0.5
  xdotool key --clearmodifiers ctrl+a
  sleep 0.3
  xdotool key --clearmodifiers ctrl+c
  sleep 0.5
  xdotool windowactivate --sync "$frame" 2>/dev/null
  xdotool mousemove --sync $((fx + 400)) $((fy + 400)) click 1
  sleep 0.5
  xdotool key --clearmodifiers ctrl+v
  all_pasted() {
    local n clash
    if clash=$(window_named '^Name Already Taken$'); then
      xdotool windowactivate --sync "$clash" key --clearmodifiers alt+s 2>/dev/null
      return 1
    fi
    rm -rf "$got" && mkdir -p "$got" || return 1
    for n in p1.txt p2.txt p3.txt zz-last.txt; do
      "$cli_bin" get "/Zsmall/$n" --to "$got" >/dev/null 2>&1 || return 1
      cmp -s "$got/$n" "$E2E_WORK/to-pcmanfm/$n" || return 1
    done
  }
  wait_for 60 all_pasted || fail "not every file copied in pcmanfm was pasted"
  echo "pcmanfm copy and paste: p1.txt p2.txt p3.txt zz-last.txt"
  paste_ended() {
    local clash
    if clash=$(window_named '^Name Already Taken$'); then
      xdotool windowactivate --sync "$clash" key --clearmodifiers alt+s 2>/dev/null
      return 1
    fi
    no_window_named '^Uploading'
  }
  wait_for 60 paste_ended || fail "the paste did not end"

  # 6. pcmanfm's p1.txt onto the tree: the category node Trash refuses it
  # (no upload), the folder node Zbig takes it into that folder.
  wait_for 60 no_window_named '^Uploading' || true
  xdotool windowactivate --sync "$pc" 2>/dev/null
  xdotool mousemove --sync 963 160 click 1  # p1.txt alone
  sleep 0.5
  before=$(uploads)
  press_and_move 963 160 $((fx + 60)) $((fy + 166))  # the tree's "Trash"
  import -window root "$outdir/peers-drop-on-trash-node.png" 2>/dev/null
  xdotool mouseup 1
  sleep 3
  [ "$(uploads)" = "$before" ] || fail "a drop on the tree's Trash was uploaded"
  echo "drop on the tree's Trash: refused"
  press_and_move 963 160 $((fx + 50)) $((fy + 310))  # the tree's "Zbig"
  import -window root "$outdir/peers-drop-on-tree-node.png" 2>/dev/null
  xdotool mouseup 1
  in_tree_folder() {
    rm -rf "$got" && mkdir -p "$got" &&
      "$cli_bin" get /Zbig/p1.txt --to "$got" >/dev/null 2>&1 &&
      cmp -s "$got/p1.txt" "$E2E_WORK/to-pcmanfm/p1.txt"
  }
  wait_for 60 in_tree_folder || fail "p1.txt dropped on the tree's Zbig did not land in /Zbig"
  echo "drop on the tree's folder node: /Zbig/p1.txt"
  import -window root "$outdir/peers-end.png" 2>/dev/null
  exit 0
fi

# ---------------------------------------------------------------------------
e2e_need "xvfb xdotool imagemagick openbox thunar pcmanfm dbus x11-utils" xvfb-run xdotool import \
  openbox thunar pcmanfm dbus-run-session xprop
for bin in "$server_bin" "$client_bin" "$cli_bin"; do
  [ -x "$bin" ] || fail "$bin is not built"
done

mkdir -p "$outdir" || fail "cannot create $outdir"
e2e_work peers
# No LibreOffice for the service whatever the machine has: step 0 needs a
# conversion that fails.
mkdir -p "$work/no-office"
E2E_SERVICE_PATH=$work/no-office e2e_start_service "$server_bin" --request-log "$work/requests.log"
"$server_bin" --data-dir "$work/server" set-quota demo@tallowdesk.test 2GB >/dev/null 2>&1 ||
  fail "could not raise the demo account's quota"
e2e_settings "$cli_bin"
mkdir -p "$work/to-thunar" "$work/to-pcmanfm" "$work/local/Zbig" "$work/local/Ztree/Tree/inner" \
  "$work/local/Zsmall"

# 300 MiB of random bytes, made once for both file managers: a shifted, cut
# or doubled piece anywhere cannot compare equal.
head -c 300M /dev/urandom >"$work/local/Zbig/big.bin" || fail "could not write the big file"
head -c 70000 /dev/urandom >"$work/local/Ztree/Tree/a.bin"
for n in 1 2 3; do echo "copied in pcmanfm $n" >"$work/to-pcmanfm/p$n.txt"; done
echo "copied in pcmanfm, last" >"$work/to-pcmanfm/zz-last.txt"
echo "inside" >"$work/local/Ztree/Tree/inner/b.txt"
head -c 90000 /dev/urandom >"$work/local/Zsmall/small.bin"
timeout 120 "$cli_bin" put "$work/local/Zbig" "$work/local/Zsmall" "$work/local/Ztree" --quiet \
  >>"$work/cli.log" 2>&1 || fail "could not upload the test files: $(tail -n 3 "$work/cli.log")"

start=$SECONDS
# The file managers need a session bus.
E2E_X_LIMIT=${E2E_X_LIMIT:-300} e2e_in_x_with_bus "$0" --inside-x "$server_bin" "$client_bin" \
  "$cli_bin" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  tail -n 40 "$work/client.log" >&2 2>/dev/null
  fail "the check beside the file managers ended with status $status"
fi
echo "inside X: $((SECONDS - start)) s; screenshots: $outdir/peers-*.png"
echo "PASSED"
