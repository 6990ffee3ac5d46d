# shellcheck shell=bash
# Sourced by the small-file benchmarks: a fresh service with one account in a
# temporary folder (its own HOME and XDG folders, removed on exit), and the
# client signed in to it with the password remembered.

# start_small_files_service PREFIX FAIL CLI: the folder named after PREFIX,
# server_bin's service on a free port, CLI logged in. FAIL is called with the
# reason when a step fails. Sets work, server_pid, port, ca, email, password.
start_small_files_service() {
  local prefix=$1 die=$2 cli=$3
  work=$(mktemp -d "${TMPDIR:-/tmp}/$prefix.XXXXXX") || "$die" "no temporary folder"
  server_pid=
  trap 'if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi; rm -rf "$work"' EXIT
  trap 'exit 143' TERM INT
  export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
  export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"

  email=bench@example.test
  password=bench-password
  echo "$password" | timeout 60 "$server_bin" --data-dir "$work/server" add-user "$email" >/dev/null ||
    "$die" "the account could not be made"
  "$server_bin" --data-dir "$work/server" --port 0 >"$work/server.log" 2>&1 &
  server_pid=$!
  port=
  for _ in $(seq 300); do
    port=$(grep -m1 -o 'listening on https://localhost:[0-9]*' "$work/server.log" | sed 's/.*://')
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || "$die" "the service did not start"
  ca=$work/server/cert.pem
  bash "$(dirname "${BASH_SOURCE[0]}")/../scripts/write-local-config.sh" \
    "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" "$port" "$ca"
  echo "$password" | timeout 60 "$cli" login "$email" --remember >"$work/login.log" 2>&1 ||
    "$die" "tallowdesk-cli login failed: $(tail -1 "$work/login.log")"
}
