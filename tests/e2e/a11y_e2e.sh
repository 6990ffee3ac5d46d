#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window through the accessibility bus, as a screen reader meets it:
#   1. the real service on a free port with the demo account, a fresh settings
#      folder remembering the account (through tallowdesk-cli);
#   2. a virtual display, a private session bus (dbus-run-session) and the
#      AT-SPI bus (at-spi-bus-launcher, which starts at-spi2-registryd);
#   3. the window with accessibility on; a11y_check.py signs in by keys and
#      walks the main window and the dialogs through pyatspi: first the
#      "Security Check" of an account whose sign-ins failed three times, at the
#      end the updater (the service publishes a newer version) and the
#      transfer window of a folder of many small files, downloaded by keys.
# Everything started here is stopped on the way out.
#
# Usage: a11y_e2e.sh SERVER CLIENT CLI
set -uo pipefail

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

if [ "${1:-}" = "--inside" ]; then
  shift
  client_bin=$2
  e2e_inside
  e2e_start_a11y_bus
  e2e_start_client "$client_bin"
  timeout 240 /usr/bin/python3 "$here/a11y_check.py" "$E2E_WORK/titles.txt" \
    robin@tallowdesk.test "$E2E_WORK/down"
  exit $?
fi

server_bin=$1 client_bin=$2 cli_bin=$3
e2e_need "xvfb xdotool dbus at-spi2-core curl" xvfb-run xdotool dbus-run-session dbus-send \
  /usr/libexec/at-spi-bus-launcher curl
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || fail "pyatspi is missing (Debian packages: python3-pyatspi gir1.2-atspi-2.0)"

e2e_work a11y
# A newer version published, for the updater's offer (never installed here).
mkdir -p "$work/published" "$work/down"
printf '99.0' >"$work/published/update.txt"
printf '#!/bin/sh\necho not a release\n' >"$work/published/tallowdesk"
e2e_start_service "$server_bin" --update-dir "$work/published"
e2e_settings "$cli_bin"
# Three failed sign-ins of the colleague from here: the next one asks for the
# security check.
for _ in 1 2 3; do
  curl -sS --max-time 30 --cacert "$work/server/cert.pem" -o /dev/null \
    --data-urlencode "Email=robin@tallowdesk.test" --data-urlencode "Passwd=not-the-password" \
    --data-urlencode "service=writely" "https://localhost:$port/accounts/ClientLogin" ||
    fail "curl could not reach the sign-in of the service"
done
# A folder of many small files: the transfer window stays long enough for
# its figures to be read while they change.
mkdir -p "$work/up/Bulk"
for i in $(seq 1 80); do head -c 65536 /dev/urandom >"$work/up/Bulk/part $i.bin"; done
timeout 120 "$cli_bin" put "$work/up/Bulk" --quiet >"$work/cli.log" 2>&1 ||
  fail "tallowdesk-cli could not upload the folder Bulk"
# Already here, with one of its files: the download asks about both.
mkdir -p "$work/down/Bulk"
printf 'mine\n' >"$work/down/Bulk/part 40.bin"
# The rows of the root folder, as the service lists them: the names every
# focus event on a row must carry.
timeout 30 "$cli_bin" ls / --json >"$work/root.json" 2>"$work/cli.log" || fail "tallowdesk-cli ls / failed"
/usr/bin/python3 -c '
import json, sys
for e in json.load(open(sys.argv[1])): print(e["title"])' "$work/root.json" >"$work/titles.txt" ||
  fail "the listing of / is not the expected JSON"
[ -s "$work/titles.txt" ] || fail "the root folder lists no rows"

started=$SECONDS
e2e_in_x_with_bus "$0" --inside "$server_bin" "$client_bin"
status=$?
echo "accessibility run: $((SECONDS - started)) s"
[ "$status" -ne 0 ] || { [ "$(find "$work/down/Bulk" -type f | wc -l)" = 80 ] &&
  [ "$(cat "$work/down/Bulk/part 40.bin")" = mine ]; } ||
  fail "the download by keys did not merge the 79 other files of Bulk into the folder there"
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the accessibility check ended with status $status"
fi
echo "PASSED"
