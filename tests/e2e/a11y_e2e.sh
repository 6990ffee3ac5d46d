#!/usr/bin/env bash
# shellcheck disable=SC2317  # the stop functions run from traps
# The window through the accessibility bus, as a screen reader meets it:
#   1. the real service on a free port with the demo account, a fresh settings
#      folder remembering the account (through tallowdesk-cli);
#   2. a virtual display, a private session bus (dbus-run-session) and the
#      AT-SPI bus (at-spi-bus-launcher, which starts at-spi2-registryd);
#   3. the window with accessibility on; a11y_check.py signs in by keys and
#      walks the main window and the dialogs through pyatspi.
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
  timeout 240 /usr/bin/python3 "$here/a11y_check.py" "$E2E_WORK/titles.txt"
  exit $?
fi

server_bin=$1 client_bin=$2 cli_bin=$3
e2e_need "xvfb xdotool dbus at-spi2-core" xvfb-run xdotool dbus-run-session dbus-send \
  /usr/libexec/at-spi-bus-launcher
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || fail "pyatspi is missing (Debian packages: python3-pyatspi gir1.2-atspi-2.0)"

e2e_work a11y
e2e_start_service "$server_bin"
e2e_settings "$cli_bin"
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
if [ "$status" -ne 0 ]; then
  echo "--- client output" >&2
  cat "$work/client.log" >&2 2>/dev/null
  fail "the accessibility check ended with status $status"
fi
echo "PASSED"
