#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# Open and Share from the window under a virtual X server:
#   1. the service on a free port with the demo account, the window signed in
#      through its pre-filled dialog;
#   2. the document "Meeting notes" chosen in the list and opened with Ctrl+O:
#      the window hands its web page to the desktop (xdg-open, which uses
#      $BROWSER here, a recorder writing the URL to a file). The URL must be the
#      entry's alternateHref as tallowdesk-cli lists it; curl then finds the
#      page behind the sign-in form (continue back to the page) and, signed in
#      through that form, the page with the HTML-escaped title;
#   3. "Share..." from the context menu of a row: the "Sharing settings" window
#      appears, is captured (e2e-share-dialog.png) and closed with Escape;
#   4. the window left through File > Exit, the service stopped.
# Every step waits for a condition with a deadline, never for a fixed time.
# Everything started here is stopped on the way out. A missing tool fails.
#
# Usage: share_open_e2e.sh SERVER CLIENT CLI OUTDIR
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
  [ "$inside_x" = 1 ] && import -window root "$outdir/e2e-share-failure.png" 2>/dev/null
  exit 1
}

. "$(dirname "$0")/e2e_lib.sh"

# ---------------------------------------------------------------------------
# Inside the virtual display: drive the window.
if [ "$inside_x" = 1 ]; then
  e2e_inside
  e2e_start_client "$client_bin"
  e2e_sign_in
  xdotool windowmove --sync "$frame" 0 0 2>/dev/null || xdotool windowmove "$frame" 0 0
  eval "$(xdotool getwindowgeometry --shell "$frame")"
  fx=$X fy=$Y
  row_x=$((fx + 260))
  row_y=$((fy + ${E2E_LIST_ROW_OFFSET:-108}))

  # Popup menus are override-redirect windows that xdotool does not list: a menu
  # is open once the screen differs from the shot taken just before.
  shot_before() { import -window root "$E2E_WORK/before.png"; }
  screen_changed() {
    import -window root "$E2E_WORK/now.png" &&
      { compare -metric AE "$E2E_WORK/before.png" "$E2E_WORK/now.png" null: 2>&1 || true; } |
      awk '{ exit !($1 + 0 > 500) }'
  }

  # --- 1. Open "Meeting notes": a click on the first row gives the list the
  # focus, typing the title selects the row, Ctrl+O opens it.
  xdotool windowfocus --sync "$frame" 2>/dev/null || xdotool windowfocus "$frame"
  xdotool mousemove --sync "$row_x" "$row_y" click 1
  xdotool type --delay 40 "Meeting notes"
  : >"$E2E_WORK/opened.txt"
  xdotool key --clearmodifiers ctrl+o
  wait_for 30 grep -q . "$E2E_WORK/opened.txt" ||
    fail "Ctrl+O handed no URL to the browser (\$BROWSER recorder)"
  opened=$(head -n 1 "$E2E_WORK/opened.txt")
  [ "$opened" = "$E2E_EXPECTED_URL" ] ||
    fail "Ctrl+O opened '$opened', not the page of Meeting notes '$E2E_EXPECTED_URL'"
  echo "opened: $opened"

  # --- 2. Share from the context menu of a row (the second, Photos, in the demo).
  xdotool windowfocus --sync "$frame" 2>/dev/null || xdotool windowfocus "$frame"
  xdotool mousemove --sync "$row_x" "$row_y" click 1
  shot_before
  xdotool mousemove --sync "$row_x" "$row_y" click 3
  wait_for 10 screen_changed || fail "the context menu of a row did not open"
  import -window root "$outdir/e2e-share-menu.png" || fail "could not capture the context menu"
  check_png "$outdir/e2e-share-menu.png"
  xdotool key --clearmodifiers s # "&Share..."
  wait_for 30 window_named '^Sharing settings$' || fail "no window titled Sharing settings appeared"
  share=$(window_named '^Sharing settings$')
  wait_for 10 xdotool getwindowgeometry "$share" || fail "the sharing dialog has no geometry"
  # The dialog reads who has access from the service; the listing window shows
  # while it does.
  wait_for 30 listing_done || fail "the sharing dialog kept loading"
  import -window "$share" "$outdir/e2e-share-dialog.png" || fail "could not capture the sharing dialog"
  check_png "$outdir/e2e-share-dialog.png"
  xdotool windowfocus --sync "$share" 2>/dev/null || xdotool windowfocus "$share"
  xdotool key --clearmodifiers Escape
  wait_for 15 no_window_named '^Sharing settings$' || fail "Escape did not close Sharing settings"
  echo "sharing dialog: opened, captured, closed"

  # --- 3. Exit through the File menu, as a user would.
  xdotool windowfocus --sync "$frame" 2>/dev/null || xdotool windowfocus "$frame"
  shot_before
  xdotool key --clearmodifiers alt+f
  wait_for 5 screen_changed || fail "the File menu did not open"
  xdotool key x
  wait_for 15 bash -c "! kill -0 $client_pid" || fail "File > Exit did not end the window"
  wait "$client_pid"
  client_status=$?
  client_pid=
  [ "$client_status" = 0 ] || fail "the window ended with status $client_status"
  exit 0
fi

# ---------------------------------------------------------------------------
# Outside: the service, the settings and the browser recorder, then the part
# above under xvfb-run.
e2e_need "xvfb xdotool imagemagick xdg-utils curl" xvfb-run xdotool import compare xdg-open curl
for bin in "$server_bin" "$client_bin" "$cli_bin"; do
  [ -x "$bin" ] || fail "$bin is not built"
done

mkdir -p "$outdir" || fail "cannot create $outdir"
rm -f "$outdir/e2e-share-failure.png" "$outdir/e2e-share-dialog.png" "$outdir/e2e-share-menu.png"
e2e_work share
e2e_start_service "$server_bin"
echo "service on port $port"
e2e_settings "$cli_bin"
# No desktop environment, and no system handler for http (this machine may
# have one, a real browser): xdg-open falls back to $BROWSER.
export XDG_DATA_DIRS=$work/share
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
mkdir -p "$XDG_DATA_DIRS/applications"

# The browser: records the URL it is given.
cat >"$work/browser.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened.txt"
EOF
chmod +x "$work/browser.sh"
export BROWSER=$work/browser.sh

# The page the window must open: the entry's alternateHref, as the service
# lists it to tallowdesk-cli.
"$cli_bin" ls --json >"$work/ls.json" 2>"$work/ls.err" || {
  cat "$work/ls.err" >&2
  fail "tallowdesk-cli ls --json failed"
}
expected=$(python3 -c '
import json, sys
data = json.load(open(sys.argv[1]))
entries = data if isinstance(data, list) else data.get("entries", [])
print(next(e["alternateHref"] for e in entries if e.get("title") == "Meeting notes"))
' "$work/ls.json") || fail "tallowdesk-cli ls --json does not list Meeting notes with an alternateHref"
case "$expected" in
  http://localhost:"$port"/*) ;;
  *) fail "the alternateHref of Meeting notes is not a page of this service: $expected" ;;
esac
export E2E_EXPECTED_URL=$expected

E2E_X_LIMIT=200 e2e_in_x "$0" --inside-x "$server_bin" "$client_bin" "$cli_bin" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the window check ended with status $status"
fi

# --- The page the window opened, as a browser without a session finds it:
# first the sign-in form, with a continue back to the page.
url=$(head -n 1 "$work/opened.txt")
jar=$work/cookies.txt
headers=$(curl -sS --max-time 30 -o /dev/null -D - -c "$jar" -b "$jar" "$url") ||
  fail "curl could not fetch $url"
code=$(printf '%s' "$headers" | head -n 1 | awk '{ print $2 }')
[ "$code" = 302 ] || fail "the page answered $code to a browser without a session, not 302"
location=$(printf '%s' "$headers" | tr -d '\r' | sed -n 's/^[Ll]ocation: //p' | head -n 1)
continue_to=$(python3 -c 'import sys, urllib.parse as u; print(u.parse_qs(u.urlsplit(sys.argv[1]).query)["continue"][0])' "$location") ||
  fail "the redirect has no continue: $location"
case "$location" in
  /accounts/ServiceLogin\?*) ;;
  *) fail "the page sent an unsigned browser to $location, not to the sign-in form" ;;
esac
[ "$continue_to" = "$url" ] || fail "the sign-in form would continue to $continue_to, not to $url"

# Sign in through the form, then the page: 200 with the title, HTML-escaped.
origin=http://localhost:$port
form=$(curl -sS --max-time 30 -c "$jar" -b "$jar" "$origin$location") || fail "no sign-in form"
galx=$(printf '%s' "$form" | grep -o "name='GALX' value='[^']*'" | sed "s/.*value='//; s/'\$//")
[ -n "$galx" ] || fail "the sign-in form has no GALX field"
signed=$(curl -sS --max-time 30 -o /dev/null -D - -c "$jar" -b "$jar" \
  --data-urlencode "GALX=$galx" --data-urlencode "continue=$continue_to" \
  --data-urlencode "service=writely" --data-urlencode "Email=demo@tallowdesk.test" \
  --data-urlencode "Passwd=tallowdesk-demo" "$origin/accounts/ServiceLoginAuth") ||
  fail "curl could not post the sign-in form"
back=$(printf '%s' "$signed" | tr -d '\r' | sed -n 's/^[Ll]ocation: //p' | head -n 1)
[ "$back" = "$url" ] || fail "signing in led to '$back', not back to $url"
page=$(curl -sS --max-time 30 -w '\n%{http_code}' -c "$jar" -b "$jar" "$url") || fail "no page after signing in"
[ "$(printf '%s' "$page" | tail -n 1)" = 200 ] || fail "the page answered $(printf '%s' "$page" | tail -n 1) after signing in"
printf '%s' "$page" | grep -qF "<h1 class='title'>Meeting notes</h1>" ||
  fail "the page of $url does not show the title Meeting notes"
echo "page: $url (sign-in form first, then the title)"

# Nothing of ours still runs: the window ended inside, the service ends here.
kill "$server_pid" 2>/dev/null
wait "$server_pid" 2>/dev/null
server_pid=
pgrep -f -- "$work" >/dev/null && fail "a process still runs from $work: $(pgrep -af -- "$work")"
echo "screenshot: $outdir/e2e-share-dialog.png"
echo "PASSED"
