# Shared by the end-to-end scripts (sourced, not run). The sourcing script
# defines fail(), which these call.

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false once
# SECONDS have passed. Every wait of the scripts has such a deadline.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# The first visible window whose title matches the pattern, if any.
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep .; }
no_window_named() { ! window_named "$1" >/dev/null; }

# A screenshot that really shows something: a PNG of more than 1000 bytes.
check_png() {
  [ -s "$1" ] || fail "$1 is empty or missing"
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    fail "$1 is not a PNG file"
  [ "$(stat -c %s "$1")" -gt 1000 ] || fail "$1 is too small to show a window"
}

# e2e_work NAME: a fresh work folder in $work (E2E_WORK for the run inside
# the X server), removed on exit together with the service started below.
e2e_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-$1.XXXXXX") || fail "no temp folder"
  export E2E_WORK=$work
  server_pid=
  trap e2e_cleanup EXIT
  trap 'exit 143' TERM INT
}
e2e_cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}

# e2e_start_service SERVER_BIN [ARGS...]: the demo service in $work on a free
# port; sets server_pid and port. E2E_SERVICE_PATH, when set, is the PATH the
# service finds its helper programs on (LibreOffice).
e2e_start_service() {
  local bin=$1
  shift
  PATH=${E2E_SERVICE_PATH:-$PATH} "$bin" --data-dir "$work/server" --port 0 --demo "$@" >"$work/server.log" 2>&1 &
  server_pid=$!
  wait_for 30 e2e_port_line || fail "the service did not start"
  port=$(e2e_port_line | sed 's/.*://')
}
e2e_port_line() { grep -m1 -o 'listening on https://localhost:[0-9]*' "$work/server.log"; }

# e2e_need "PACKAGES" TOOL...: fails naming the Debian packages when a tool is
# missing.
e2e_need() {
  local packages=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is missing (Debian packages: $packages)"
  done
}

# e2e_settings [CLI_BIN]: HOME and the XDG folders in $work, the settings
# pointing at the service started above; with CLI_BIN the demo account is
# remembered through tallowdesk-cli, as a user would.
e2e_settings() {
  export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
  export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  bash "$e2e_lib_dir/../../scripts/write-local-config.sh" "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" \
    "$port" "$work/server/cert.pem" || fail "could not write the settings"
  [ -n "${1:-}" ] || return 0
  echo tallowdesk-demo | timeout 30 "$1" login demo@tallowdesk.test --remember >"$work/cli.log" 2>&1 || {
    cat "$work/cli.log" >&2
    fail "tallowdesk-cli could not remember the demo account"
  }
}

# e2e_in_x COMMAND...: runs COMMAND in a virtual display, with at most
# E2E_X_LIMIT seconds (default 280); e2e_in_x_with_bus adds a private session
# bus, for the accessibility bus started inside by e2e_start_a11y_bus.
e2e_in_x() {
  unset QT_QPA_PLATFORM
  timeout "${E2E_X_LIMIT:-280}" xvfb-run -a -s "-screen 0 1280x800x24" "$@"
}
e2e_in_x_with_bus() { e2e_in_x dbus-run-session -- "$@"; }

# Inside the display: the programs started here are stopped by e2e_stop_inside
# (the EXIT trap that e2e_inside sets): the window, the AT-SPI bus and every
# program handed to e2e_started (a window manager, a file manager).
e2e_inside() {
  client_pid= launcher_pid=
  e2e_others=()
  trap e2e_stop_inside EXIT
  trap 'exit 143' TERM INT
}
e2e_started() { e2e_others+=("$1"); }
e2e_stop_inside() {
  local p
  for p in "${e2e_others[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${e2e_others[@]}"; do wait "$p" 2>/dev/null; done
  e2e_others=()
  if [ -n "$client_pid" ]; then
    kill "$client_pid" 2>/dev/null
    wait "$client_pid" 2>/dev/null
    client_pid=
  fi
  if [ -n "$launcher_pid" ]; then
    kill "$launcher_pid" 2>/dev/null
    wait "$launcher_pid" 2>/dev/null
    launcher_pid=
  fi
}

# e2e_start_a11y_bus: the AT-SPI bus on the private session bus (it starts
# at-spi2-registryd); programs started after it speak to it.
e2e_start_a11y_bus() {
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$E2E_WORK/atspi.log" 2>&1 &
  launcher_pid=$!
  wait_for 20 e2e_a11y_bus || fail "the AT-SPI bus did not start (see $E2E_WORK/atspi.log)"
  export QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}
e2e_a11y_bus() {
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress
}

# e2e_start_client BIN: the window in the background (client_pid), its
# output in $E2E_WORK/client.log.
e2e_start_client() {
  "$1" >"$E2E_WORK/client.log" 2>&1 &
  client_pid=$!
}

# e2e_sign_in_dialog: waits for the pre-filled sign-in dialog ($dialog).
# e2e_sign_in: confirms it with Enter and waits for the main window ($frame)
# and its first listing.
e2e_sign_in_dialog() {
  wait_for 30 window_named '^Tallowdesk$' ||
    fail "no window titled Tallowdesk appeared (see $E2E_WORK/client.log)"
  dialog=$(window_named '^Tallowdesk$')
  wait_for 10 xdotool getwindowgeometry "$dialog" || fail "the sign-in dialog has no geometry"
}
e2e_sign_in() {
  [ -n "${dialog:-}" ] || e2e_sign_in_dialog
  xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
  xdotool key --clearmodifiers Return
  wait_for 30 e2e_main_window || fail "the main window did not appear after signing in"
  frame=$(e2e_main_window)
  wait_for 30 listing_done || fail "the first listing did not end"
}
# The main window is another window of the same title as the sign-in dialog.
e2e_main_window() {
  local w
  for w in $(xdotool search --onlyvisible --name '^Tallowdesk$'); do
    [ "$w" != "$dialog" ] && echo "$w" && return 0
  done
  return 1
}
# The listing's "Processing......" window is shown while the rows arrive.
listing_done() { no_window_named '^Processing......$'; }

e2e_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
