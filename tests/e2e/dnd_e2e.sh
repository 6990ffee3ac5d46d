#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# Drag and drop and the clipboard under a virtual X server, between the real
# window and two other X clients (dnd_peer):
#   1. the service on a free port with the demo account, the window signed in,
#      the folder "Photos" opened;
#   2. a row dragged and released where nothing takes drops hands nothing on;
#      a row dragged onto the drop target (a Qt program that takes only
#      text/uri-list, no direct save) arrives there complete, bytes equal to
#      what tallowdesk-cli downloads;
#   3. a local file dragged from a drag source onto the list: uploaded into
#      Photos, bytes checked through tallowdesk-cli;
#   4. files set on the clipboard with xclip, as text/uri-list and as GNOME's
#      x-special/gnome-copied-files, and pasted with Ctrl+V: both uploaded.
# Screenshots in OUTDIR. Everything started here is stopped on the way out.
# Exit 77 means skipped.
#
# Usage: dnd_e2e.sh SERVER CLIENT CLI PEER OUTDIR
set -uo pipefail

if [ "${1:-}" = "--inside-x" ]; then
  inside_x=1
  shift
else
  inside_x=0
fi
server_bin=$1 client_bin=$2 cli_bin=$3 peer_bin=$4 outdir=$5

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
. "$(dirname "$0")/e2e_lib.sh"

# The remote file PATH has the bytes of the local file LOCAL.
remote_equals() {
  local remote=$1 local_file=$2 dir
  dir=$(mktemp -d "$E2E_WORK/get.XXXXXX")
  "$cli_bin" get "$remote" --to "$dir" >/dev/null 2>&1 || return 1
  cmp -s "$dir/$(basename "$remote")" "$local_file"
}

# Presses at (x1,y1), moves in steps to (x2,y2) and releases there; shot
# names a screenshot taken while the button is still held over the target.
drag() {
  local x1=$1 y1=$2 x2=$3 y2=$4 shot=$5 i
  xdotool mousemove --sync "$x1" "$y1"
  sleep 0.3
  xdotool mousedown 1
  sleep 0.3
  for i in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove --sync $((x1 + (x2 - x1) * i / 10)) $((y1 + (y2 - y1) * i / 10))
    sleep 0.15
  done
  xdotool mousemove --sync $((x2 + 3)) $((y2 + 3))
  sleep 0.5
  import -window root "$outdir/$shot" 2>/dev/null
  xdotool mouseup 1
}

# ---------------------------------------------------------------------------
if [ "$inside_x" = 1 ]; then
  pids=()
  stop_all() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    pids=()
  }
  trap stop_all EXIT
  trap 'exit 143' TERM INT

  "$client_bin" >"$E2E_WORK/client.log" 2>&1 &
  pids+=($!)
  wait_for 30 xdotool search --onlyvisible --name '^Tallowdesk$' ||
    fail "no window titled Tallowdesk appeared"
  dialog=$(xdotool search --onlyvisible --name '^Tallowdesk$' | head -n 1)
  sleep 1
  xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
  xdotool key --clearmodifiers Return
  main_window() {
    local w
    for w in $(xdotool search --onlyvisible --name '^Tallowdesk$'); do
      [ "$w" != "$dialog" ] && echo "$w" && return 0
    done
    return 1
  }
  wait_for 30 main_window || fail "the main window did not appear after signing in"
  frame=$(main_window)
  xdotool windowmove --sync "$frame" 0 0 2>/dev/null || xdotool windowmove "$frame" 0 0
  sleep 3

  # The two peers to the right of the window.
  "$peer_bin" target "$E2E_WORK/dropped" >"$E2E_WORK/target.log" 2>&1 &
  pids+=($!)
  "$peer_bin" source "$E2E_WORK/local/dragged.bin" >"$E2E_WORK/source.log" 2>&1 &
  pids+=($!)
  wait_for 20 xdotool search --onlyvisible --name '^DropTarget$' || fail "the drop target did not appear"
  wait_for 20 xdotool search --onlyvisible --name '^DragSource$' || fail "the drag source did not appear"
  target=$(xdotool search --onlyvisible --name '^DropTarget$' | head -n 1)
  source_win=$(xdotool search --onlyvisible --name '^DragSource$' | head -n 1)
  xdotool windowmove "$target" 1000 60
  xdotool windowmove "$source_win" 1000 400
  sleep 1

  # Open Photos: the tree takes the focus with a click and finds it by name.
  eval "$(xdotool getwindowgeometry --shell "$frame")"
  fx=$X fy=$Y
  xdotool windowfocus "$frame" 2>/dev/null
  xdotool mousemove --sync $((fx + 60)) $((fy + ${E2E_FIRST_ROW_OFFSET:-80})) click 1
  sleep 1
  xdotool type --delay 40 "Photos"
  sleep 4
  import -window "$frame" "$outdir/dnd-photos.png" || fail "could not capture the window"

  row_x=$((fx + 260))
  row_y=$((fy + ${E2E_LIST_ROW_OFFSET:-108}))

  # A drag released where nothing takes drops hands the peer nothing.
  drag "$row_x" "$row_y" 600 720 dnd-drag-nowhere.png
  sleep 2
  [ ! -s "$E2E_WORK/target.log" ] || fail "the target received a drag released elsewhere"

  # 2. A row onto the list-only target: the file list after the download.
  drag "$row_x" "$row_y" 1120 160 dnd-drag-out.png
  wait_for 60 grep -q '^dropped \|^missing ' "$E2E_WORK/target.log" || {
    cat "$E2E_WORK/target.log" >&2
    fail "nothing arrived at the drop target"
  }
  ! grep -q '^missing ' "$E2E_WORK/target.log" ||
    fail "the target was handed a path to nothing: $(cat "$E2E_WORK/target.log")"
  name=$(sed -n 's/^dropped //p' "$E2E_WORK/target.log" | head -n 1)
  remote_equals "/Photos/$name" "$E2E_WORK/dropped/$name" ||
    fail "the dropped $name differs from the service's copy"
  echo "dragged out: $name ($(stat -c %s "$E2E_WORK/dropped/$name") bytes)"
  wait_for 30 no_window_named '^Downloading' || true

  # 3. A local file from the drag source onto the list.
  drag 1120 500 $((fx + 400)) $((fy + 300)) dnd-drop-in.png
  wait_for 60 remote_equals /Photos/dragged.bin "$E2E_WORK/local/dragged.bin" ||
    fail "the file dropped on the list did not reach the service"
  echo "dropped in: dragged.bin"

  # 4. Paste from the clipboard in both formats.
  xdotool windowfocus "$frame" 2>/dev/null
  xdotool mousemove --sync "$row_x" "$row_y" click 1
  printf 'file://%s\r\n' "$E2E_WORK/local/pasted-uri.txt" |
    xclip -selection clipboard -t text/uri-list
  sleep 0.5
  xdotool key --clearmodifiers ctrl+v
  wait_for 60 remote_equals /Photos/pasted-uri.txt "$E2E_WORK/local/pasted-uri.txt" ||
    fail "the text/uri-list paste did not reach the service"
  echo "pasted: pasted-uri.txt"
  printf 'copy\nfile://%s' "$E2E_WORK/local/pasted-gnome.txt" |
    xclip -selection clipboard -t x-special/gnome-copied-files
  sleep 0.5
  xdotool key --clearmodifiers shift+Insert
  wait_for 60 remote_equals /Photos/pasted-gnome.txt "$E2E_WORK/local/pasted-gnome.txt" ||
    fail "the GNOME clipboard paste did not reach the service"
  echo "pasted: pasted-gnome.txt"
  sleep 1
  import -window root "$outdir/dnd-after-paste.png" 2>/dev/null
  exit 0
fi

# ---------------------------------------------------------------------------
for tool in xvfb-run xdotool import xclip; do
  command -v "$tool" >/dev/null || fail "$tool is missing (Debian packages: xvfb xdotool imagemagick xclip)"
done
for bin in "$server_bin" "$client_bin" "$cli_bin" "$peer_bin"; do
  [ -x "$bin" ] || fail "$bin is not built"
done

mkdir -p "$outdir" || fail "cannot create $outdir"
e2e_work dnd
e2e_start_service "$server_bin"

export HOME=$work/home
export XDG_CONFIG_HOME=$work/config
export XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" \
  "$work/dropped" "$work/local"
chmod 700 "$XDG_RUNTIME_DIR"
bash "$(dirname "$0")/../../scripts/write-local-config.sh" "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" \
  "$port" "$work/server/cert.pem"
echo tallowdesk-demo | "$cli_bin" login demo@tallowdesk.test --remember >"$work/cli.log" 2>&1 ||
  fail "tallowdesk-cli could not remember the demo account"

head -c 300000 /dev/urandom >"$work/local/dragged.bin"
echo "pasted as a URI list" >"$work/local/pasted-uri.txt"
echo "pasted as GNOME copied files" >"$work/local/pasted-gnome.txt"

unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside-x "$server_bin" "$client_bin" "$cli_bin" \
  "$peer_bin" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the drag-and-drop check ended with status $status"
fi
echo "screenshots: $outdir/dnd-*.png"
echo "PASSED"
