#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The update offer end to end under a virtual X server:
#   1. the real service on a free port publishing version 99.0 (--update-dir);
#   2. a fresh settings folder pointing the client at it with the update check on;
#   3. the real program: opening the sign-in dialog starts the silent check, whose
#      "Tallowdesk Updater" window offers 99.0; "Update" then fails, since the
#      published program carries no valid signature, and nothing is replaced;
#   4. screenshots of the offer and of the refusal (PNG) in OUTDIR.
# Everything started here is stopped on the way out. Exit 77 means skipped.
#
# Usage: updater_e2e.sh SERVER CLIENT OUTDIR
set -uo pipefail

if [ "${1:-}" = "--inside-x" ]; then
  inside_x=1
  shift
else
  inside_x=0
fi
server_bin=$1 client_bin=$2 outdir=$3

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
. "$(dirname "$0")/e2e_lib.sh"

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

  # A copy of the program, so that a wrongly accepted update could only ever
  # touch this copy.
  cp "$client_bin" "$E2E_WORK/install/tallowdesk" || fail "cannot copy the program"
  "$E2E_WORK/install/tallowdesk" >"$E2E_WORK/client.log" 2>&1 &
  client_pid=$!

  wait_for 30 xdotool search --onlyvisible --name '^Tallowdesk Updater$' ||
    fail "no update was offered (see $E2E_WORK/client.log)"
  updater=$(xdotool search --onlyvisible --name '^Tallowdesk Updater$' | head -n 1)
  sleep 1 # let it paint
  import -window "$updater" "$outdir/e2e-updater-offer.png" || fail "could not capture the offer"
  check_png "$outdir/e2e-updater-offer.png"

  # "Update" is the default button.
  xdotool windowfocus --sync "$updater" 2>/dev/null || xdotool windowfocus "$updater"
  xdotool key --clearmodifiers Return
  sleep 3 # download and verification against the local service
  import -window "$updater" "$outdir/e2e-updater-refused.png" || fail "could not capture the end"
  check_png "$outdir/e2e-updater-refused.png"
  cmp -s "$outdir/e2e-updater-offer.png" "$outdir/e2e-updater-refused.png" &&
    fail "pressing Update changed nothing on the screen"
  cmp -s "$client_bin" "$E2E_WORK/install/tallowdesk" || fail "the program was replaced"
  [ -e "$E2E_WORK/install/OldExecutable.bak" ] && fail "an unsigned update was installed"
  exit 0
fi

for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || fail "$tool is missing (Debian packages: xvfb xdotool imagemagick)"
done
for bin in "$server_bin" "$client_bin"; do
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

mkdir -p "$work/published" "$work/install"
printf '99.0' >"$work/published/update.txt"
printf '#!/bin/sh\necho not a release\n' >"$work/published/tallowdesk"
printf 'Version 99.0\n' >"$work/published/readme.txt"

"$server_bin" --data-dir "$work/server" --port 0 --update-dir "$work/published" \
  >"$work/server.log" 2>&1 &
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
export TMPDIR=$work
mkdir -p "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
config=$XDG_CONFIG_HOME/Tallowdesk/Config.xml
bash "$(dirname "$0")/../../scripts/write-local-config.sh" "$config" "$port" "$work/server/cert.pem"
sed -i 's|<autoupdatecheck>false</autoupdatecheck>|<autoupdatecheck>true</autoupdatecheck>|' "$config"

unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside-x "$server_bin" "$client_bin" "$outdir"
status=$?
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the update check ended with status $status"
fi
for shot in e2e-updater-offer e2e-updater-refused; do
  echo "screenshot: $outdir/$shot.png"
done
echo "PASSED"
