#!/usr/bin/env bash
# Builds Tallowdesk and the local document service, starts the service with
# the demo account on a free loopback port (data in the user's data folder),
# points Tallowdesk at it and opens the window with the demo account filled
# in. The user's own settings are not touched: the demo run keeps its
# Config.xml in a folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
No display is available (DISPLAY and WAYLAND_DISPLAY are unset), so the window
cannot open. On a machine without a desktop, run it under a virtual X server:

    xvfb-run -a -s "-screen 0 1280x800x24" bash scripts/run.sh

(xvfb-run comes with the Debian package xvfb, which scripts/deps.sh installs.)
MSG
  exit 1
fi

bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target tallowdesk tallowdesk-server tallowdesk-cli

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
server_dir=$data_home/Tallowdesk/server
demo_config=$data_home/Tallowdesk/demo-config
mkdir -p "$server_dir" "$demo_config/Tallowdesk"
log=$(mktemp)

./build/dev/server/tallowdesk-server --demo --port 0 --data-dir "$server_dir" >"$log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null; rm -f "$log"' EXIT

port=
for _ in $(seq 100); do
  port=$(sed -n 's|.*listening on https://localhost:\([0-9]*\).*|\1|p' "$log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "The local service did not start:" >&2; cat "$log" >&2; exit 1; }
echo "Local document service on https://localhost:$port (data in $server_dir)"

bash scripts/write-local-config.sh "$demo_config/Tallowdesk/Config.xml" "$port" "$server_dir/cert.pem"

export XDG_CONFIG_HOME=$demo_config
# Remembering the demo account fills in the sign-in dialog.
echo "tallowdesk-demo" | ./build/dev/cli/tallowdesk-cli login demo@tallowdesk.test --remember
./build/dev/shell/tallowdesk
