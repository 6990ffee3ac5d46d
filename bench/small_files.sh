#!/usr/bin/env bash
# Many small files through tallowdesk-cli against a local service on a free
# port with a temporary data folder: `put` of a folder of N files, then `get`
# of that folder, each timed as a whole (sign-in included, as a user sees it).
# Prints one line per figure: BENCH | <what> | <figure> | <anchor> | <ratio> | <goal>
# Usage: bench/small_files.sh [BUILD_DIR] [COUNT] [BYTES]   (default build/rel 250 4096)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/rel}
count=${2:-250}
bytes=${3:-4096}
server_bin=$build/server/tallowdesk-server
cli_bin=$build/cli/tallowdesk-cli
for bin in "$server_bin" "$cli_bin"; do
  [ -x "$bin" ] || { echo "small_files.sh: $bin is missing (build it first)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-small.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data-home
export XDG_CACHE_HOME=$work/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$work/data"
email=bench@example.test password=bench-password

echo "$password" | "$server_bin" --data-dir "$work/data" add-user "$email" >/dev/null
"$server_bin" --port 0 --data-dir "$work/data" >"$work/server.log" 2>&1 &
server_pid=$!
port=
for _ in $(seq 200); do
  port=$(sed -n 's|.*listening on https://localhost:\([0-9]*\).*|\1|p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; exit 1; }
  sleep 0.05
done
[ -n "$port" ] || { echo "small_files.sh: the service did not start" >&2; exit 1; }
bash "$root/scripts/write-local-config.sh" "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" "$port" \
  "$work/data/cert.pem"
echo "$password" | "$cli_bin" login "$email" --remember >/dev/null

folder=$work/small
mkdir -p "$folder"
for i in $(seq -w 1 "$count"); do head -c "$bytes" /dev/urandom >"$folder/f$i.bin"; done

now() { date +%s.%N; }
start=$(now)
"$cli_bin" put "$folder" --quiet >"$work/put.log" 2>&1 || { cat "$work/put.log" >&2; exit 1; }
put_s=$(echo "$(now) - $start" | bc -l)

mkdir -p "$work/out"
start=$(now)
"$cli_bin" get small --to "$work/out" --quiet >"$work/get.log" 2>&1 || { cat "$work/get.log" >&2; exit 1; }
get_s=$(echo "$(now) - $start" | bc -l)
diff -r "$folder" "$work/out/small" >/dev/null || { echo "small_files.sh: downloaded files differ" >&2; exit 1; }

rate() { printf '%.0f' "$(echo "$count / $1" | bc -l)"; }
put_rate=$(rate "$put_s") get_rate=$(rate "$get_s")
echo "BENCH | get of $count files of $bytes bytes (files/s) | $get_rate | - | - | >= 150"
echo "BENCH | put of $count files of $bytes bytes (files/s) | $put_rate | - | - | >= 100"
