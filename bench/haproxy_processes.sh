#!/usr/bin/env bash
# Feeds and sign-ins per second through haproxy in front of one and of two
# service processes on one data folder (SQLite), with one process answering
# directly as the anchor. Loopback only; not run by CI.
#
# Usage: bash bench/haproxy_processes.sh BUILD_DIR [ENTRIES] [SECONDS]
#   BUILD_DIR holds server/tallowdesk-server. ENTRIES (default 1000) folders
#   are made in the account first; SECONDS (default 10) per wrk run.
# Prints "BENCH | What | Figure | Anchor | Ratio | Goal" lines on stdout;
# progress on stderr. Needs haproxy, wrk and curl.
set -uo pipefail

build=${1:?usage: haproxy_processes.sh BUILD_DIR [ENTRIES] [SECONDS]}
entries=${2:-1000}
seconds=${3:-10}
server_bin=$build/server/tallowdesk-server
for tool in haproxy wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "BENCH | haproxy in front of the service | not measured: $tool is missing | | |"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-hbench.XXXXXX") || exit 1
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/xdg TMPDIR=$work/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$TMPDIR"
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null; done
  pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

data=$work/data
printf 'p@ss\n' | timeout 60 "$server_bin" --data-dir "$data" add-user bench@example.test >/dev/null ||
  exit 1
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() {
  local end=$((SECONDS + 30))
  until curl -sk --max-time 2 -o /dev/null "https://localhost:$1/accounts/ServiceLogin"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# start N: N service processes and haproxy in front; sets front and ports.
start() {
  ports=()
  local servers=""
  for i in $(seq 1 "$1"); do
    local port
    port=$(free_port)
    "$server_bin" --data-dir "$data" --listen "127.0.0.1:$port" --trusted-proxy 127.0.0.1 \
      >"$work/service$i.log" 2>&1 &
    pids+=($!)
    wait_port "$port" || { echo "service $i did not start" >&2; return 1; }
    ports+=("$port")
    servers+="  server s$i 127.0.0.1:$port ssl verify required ca-file $data/cert.pem verifyhost localhost sni str(localhost)
"
  done
  front=$(free_port)
  cat "$data/cert.pem" "$data/key.pem" >"$work/haproxy.pem"
  cat >"$work/haproxy.cfg" <<CFG
global
  maxconn 512
defaults
  mode http
  timeout connect 5s
  timeout client 60s
  timeout server 60s
  option forwardfor
  http-reuse always
frontend docs
  bind 127.0.0.1:$front ssl crt $work/haproxy.pem
  default_backend services
backend services
  balance roundrobin
$servers
CFG
  haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
  pids+=($!)
  wait_port "$front"
}

login_body='accountType=HOSTED_OR_GOOGLE&Email=bench%40example.test&Passwd=p%40ss&service=writely'
cat >"$work/signin.lua" <<LUA
wrk.method = "POST"
wrk.body = "$login_body"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA

# Entries first, through one process.
start 1 || exit 1
token=$(curl -s --cacert "$data/cert.pem" -d "$login_body" \
  "https://localhost:${ports[0]}/accounts/ClientLogin" | sed -n 's/^Auth=//p')
[ -n "$token" ] || { echo "no token" >&2; exit 1; }
echo "making $entries entries" >&2
seq 1 "$entries" | xargs -P 4 -I{} curl -s -o /dev/null --cacert "$data/cert.pem" \
  -H 'GData-Version: 3.0' -H "Authorization: GoogleLogin auth=$token" \
  -H 'Content-Type: application/atom+xml' \
  --data "<entry xmlns='http://www.w3.org/2005/Atom'><category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/docs/2007#folder'/><title>folder {}</title></entry>" \
  "https://localhost:${ports[0]}/feeds/default/private/full"

# rate URL [wrk args]: requests per second of a wrk run.
rate() {
  local url=$1
  shift
  wrk -t2 -c16 -d"${seconds}s" --timeout 10s "$@" "$url" 2>/dev/null >"$work/wrk.out"
  awk '/^Requests\/sec/ {print int($2)}' "$work/wrk.out"
  # Answers that were no success are counted apart: they are cheaper.
  awk '/Non-2xx/ {print $NF}' "$work/wrk.out" >>"$work/non2xx"
}
feed_args=(-H 'GData-Version: 3.0' -H "Authorization: GoogleLogin auth=$token")
declare -A feeds signins
feeds[direct]=$(rate "https://localhost:${ports[0]}/feeds/default/private/full" "${feed_args[@]}")
signins[direct]=$(rate "https://localhost:${ports[0]}/accounts/ClientLogin" -s "$work/signin.lua")
feeds[1]=$(rate "https://localhost:$front/feeds/default/private/full" "${feed_args[@]}")
signins[1]=$(rate "https://localhost:$front/accounts/ClientLogin" -s "$work/signin.lua")
stop_all
start 2 || exit 1
feeds[2]=$(rate "https://localhost:$front/feeds/default/private/full" "${feed_args[@]}")
signins[2]=$(rate "https://localhost:$front/accounts/ClientLogin" -s "$work/signin.lua")
stop_all

bad=$(awk '{s += $1} END {print s + 0}' "$work/non2xx" 2>/dev/null || echo 0)
echo "answers other than 2xx/3xx in all runs: $bad" >&2
ratio() { python3 -c "import sys; a, b = map(float, sys.argv[1:]); print(f'{a / b:.2f}' if b else '-')" "$1" "$2"; }
for n in 1 2; do
  printf 'BENCH | Feed page (%s entries in the account), haproxy + %s process(es), 16 connections | %s req/s | one process directly: %s req/s | %s | two processes >= one |\n' \
    "$entries" "$n" "${feeds[$n]:-0}" "${feeds[direct]:-0}" "$(ratio "${feeds[$n]:-0}" "${feeds[direct]:-0}")"
  printf 'BENCH | ClientLogin, haproxy + %s process(es), 16 connections | %s sign-ins/s | one process directly: %s sign-ins/s | %s | two processes >= one |\n' \
    "$n" "${signins[$n]:-0}" "${signins[direct]:-0}" "$(ratio "${signins[$n]:-0}" "${signins[direct]:-0}")"
done
