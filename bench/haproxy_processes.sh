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
here=$(cd "$(dirname "$0")" && pwd)
server_bin=$build/server/tallowdesk-server
for tool in haproxy wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "BENCH | haproxy in front of the service | not measured: $tool is missing | | |"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-hbench.XXXXXX") || exit 1
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/xdg TMPDIR=$work/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$TMPDIR"
# shellcheck source=haproxy_front.sh
. "$here/haproxy_front.sh"
# shellcheck disable=SC2034 # read by start in haproxy_front.sh
haproxy_maxconn=512
trap 'stop_all; rm -rf "$work"' EXIT

data=$work/data
printf 'p@ss\n' | timeout 60 "$server_bin" --data-dir "$data" add-user bench@example.test >/dev/null ||
  exit 1
write_signin_lua

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
