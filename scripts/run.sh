#!/usr/bin/env bash
# Builds Tallowdesk and the local document service, starts the service with
# the demo account (unless one already answers on its port) and runs the app.
# Sign in as demo@tallowdesk.test with the password tallowdesk-demo.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target tallowdesk tallowdesk-server tallowdesk-cli

port=48443
server_pid=
if ! curl -s -o /dev/null --max-time 2 "http://localhost:$port/accounts/ServiceLogin"; then
  ./build/dev/server/tallowdesk-server --demo --port "$port" &
  server_pid=$!
  trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null' EXIT
  for _ in $(seq 50); do
    curl -s -o /dev/null --max-time 1 "http://localhost:$port/accounts/ServiceLogin" && break
    sleep 0.2
  done
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running the window under Xvfb." >&2
  xvfb-run -a -s "-screen 0 1280x800x24" ./build/dev/shell/tallowdesk
else
  ./build/dev/shell/tallowdesk
fi
