#!/usr/bin/env bash
# Runs a test program with a Secret Service of its own: fresh HOME and XDG
# folders, a private session bus (dbus-run-session) and gnome-keyring-daemon
# with its login keyring unlocked by TALLOWDESK_TEST_KEYRING_PASSWORD. The bus
# and the daemon end with the program.
# With --no-service the program gets the fresh folders and a session bus
# address where nothing listens instead.
# Usage: with_keyring.sh [--no-service] PROGRAM [ARGS...]
set -uo pipefail
no_service=0
if [ "${1:-}" = "--no-service" ]; then
  no_service=1
  shift
fi
for tool in dbus-run-session gnome-keyring-daemon gdbus; do
  command -v "$tool" >/dev/null || {
    echo "FAILED: $tool is missing (scripts/deps.sh installs it)" >&2
    exit 1
  }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-keyring.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export TALLOWDESK_TEST_KEYRING_PASSWORD=tallow-test-keyring
# No display: an unlock prompt cannot show, so a locked keyring stays locked.
unset DISPLAY WAYLAND_DISPLAY
if [ "$no_service" = 1 ]; then
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
  exec timeout 120 "$@"
fi
# shellcheck disable=SC2016  # expanded by the inner shell
timeout 120 dbus-run-session -- sh -c '
  printf "%s" "$TALLOWDESK_TEST_KEYRING_PASSWORD" |
    gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1
  exec "$@"' sh "$@"
