#!/usr/bin/env bash
# The root folder's feed and the plain feed at 64 connections, against nginx
# serving the same bytes with the same certificate, in interleaved rounds so
# that a busy machine weighs on every figure alike. With a second build
# folder, its service runs beside the first (own data folder, same entries)
# and takes its turn in every round: before and after from one session.
#
# Usage: bash bench/root_feed.sh BUILD_DIR [OTHER_BUILD_DIR] [ROUNDS] [SECONDS]
#   Each BUILD_DIR holds server/tallowdesk-server. ROUNDS defaults to 3,
#   SECONDS (per wrk run) to 8.
# Prints "BENCH | What | Figure | Anchor | Ratio | Goal" lines on stdout: per
# build and feed the median req/s over the rounds and the median of the
# per-round ratios to nginx; progress and every single run go to stderr.
# Runs in a temporary folder with its own HOME and XDG folders, loopback only,
# and stops everything it started.
set -uo pipefail

first=${1:?usage: root_feed.sh BUILD_DIR [OTHER_BUILD_DIR] [ROUNDS] [SECONDS]}
second=${2:-}
rounds=${3:-3}
seconds=${4:-8}
goal=">= 0.3 of nginx, no errors"
note() { echo "root_feed: $*" >&2; }
# shellcheck source=nginx_conf.sh
. "$(dirname "$0")/nginx_conf.sh"
PATH=$PATH:/usr/sbin
for tool in wrk nginx curl python3; do
  command -v "$tool" >/dev/null || {
    printf 'BENCH | Root folder feed, 64 connections | not measured: %s is missing | | | %s\n' \
      "$tool" "$goal"
    exit 1
  }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-rootfeed.XXXXXX") || exit 1
chmod 755 "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" \
  "$work/www" "$work/nginx"
chmod 700 "$XDG_RUNTIME_DIR"
export LC_ALL=C
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
email=bench@example.test
password=bench-password
declare -A port token
# start NAME BUILD: a service with the account and the ten entries bench.sh makes.
start() {
  local name=$1 bin=$2/server/tallowdesk-server dir=$work/$1 i
  [ -x "$bin" ] || {
    note "$bin is missing"
    return 1
  }
  echo "$password" | timeout 60 "$bin" --data-dir "$dir" add-user "$email" >/dev/null || return 1
  "$bin" --data-dir "$dir" --port 0 >"$work/$name.log" 2>&1 &
  pids+=($!)
  for i in $(seq 300); do
    grep -q 'listening on https://localhost:' "$work/$name.log" && break
    sleep 0.1
  done
  port[$name]=$(grep -m1 -o 'listening on https://localhost:[0-9]*' "$work/$name.log" | sed 's/.*://')
  [ -n "${port[$name]}" ] || return 1
  local base=https://localhost:${port[$name]}
  token[$name]=$(timeout 60 curl -sS --cacert "$dir/cert.pem" -d accountType=HOSTED_OR_GOOGLE \
    --data-urlencode "Email=$email" --data-urlencode "Passwd=$password" -d service=writely \
    "$base/accounts/ClientLogin" | sed -n 's/^Auth=//p')
  [ -n "${token[$name]}" ] || return 1
  local kinds=(document spreadsheet presentation document folder document spreadsheet document
    presentation document)
  for i in "${!kinds[@]}"; do
    timeout 60 curl -sS --fail --cacert "$dir/cert.pem" -H "GData-Version: 3.0" \
      -H "Authorization: GoogleLogin auth=${token[$name]}" -H "Content-Type: application/atom+xml" \
      --data-binary "<?xml version='1.0' encoding='UTF-8'?><entry xmlns='http://www.w3.org/2005/Atom'><category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/docs/2007#${kinds[$i]}'/><title>Quarterly report $((i + 1)) (${kinds[$i]})</title></entry>" \
      -o /dev/null "$base/feeds/default/private/full" || return 1
  done
}
names=(first)
start first "$first" || {
  printf 'BENCH | Root folder feed, 64 connections | not measured: the service of %s did not start | | | %s\n' \
    "$first" "$goal"
  exit 1
}
if [ -n "$second" ]; then
  names+=(second)
  start second "$second" || {
    note "the service of $second did not start"
    exit 1
  }
fi

feed=/feeds/default/private/full
root=$feed/folder%3Aroot/contents
ca=$work/first/cert.pem
get() { # get NAME PATH OUT
  timeout 60 curl -sS --fail --cacert "$work/$1/cert.pem" -H "GData-Version: 3.0" \
    -H "Authorization: GoogleLogin auth=${token[$1]}" -o "$3" "https://localhost:${port[$1]}$2"
}
get first "$feed" "$work/www/feed" && get first "$root" "$work/www/rootfeed" || exit 1
nginx_port=$(free_port)
cp "$ca" "$work/nginx/cert.pem"
cp "$work/first/key.pem" "$work/nginx/key.pem"
nginx_conf "$work/nginx" "$work/www" "$nginx_port" "$(nproc)"
nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  curl -s -o /dev/null --cacert "$ca" "https://localhost:$nginx_port/feed" && break
  sleep 0.1
done

# wrk_rps NAME|nginx PATH: req/s of one run; prints "- errors" when any
# answer was not 2xx/3xx or a socket failed.
wrk_rps() {
  local url auth=()
  if [ "$1" = nginx ]; then
    url=https://localhost:$nginx_port/$2
  else
    url=https://localhost:${port[$1]}$2
    auth=(-H "Authorization: GoogleLogin auth=${token[$1]}")
  fi
  timeout $((seconds + 30)) wrk -t2 -c64 -d"${seconds}s" -H "GData-Version: 3.0" "${auth[@]}" \
    "$url" >"$work/wrk.out" 2>&1
  awk '/Requests\/sec:/ { rps = $2 } /Non-2xx|Socket errors/ { bad = 1 }
       END { printf "%.0f%s\n", rps, bad ? " errors" : "" }' "$work/wrk.out"
}
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2];
  else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A runs ratios
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
for round in $(seq "$rounds"); do
  for kind in root feed; do
    path=$root
    file=rootfeed
    [ "$kind" = feed ] && path=$feed && file=feed
    anchor=$(wrk_rps nginx "$file")
    runs[nginx-$kind]+="${anchor%% *} "
    # Every other round the other build goes first, so neither always
    # follows nginx.
    order=("${names[@]}")
    [ $((round % 2)) -eq 0 ] && [ ${#names[@]} -eq 2 ] && order=(second first)
    for name in "${order[@]}"; do
      rps=$(wrk_rps "$name" "$path")
      runs[$name-$kind]+="${rps%% *} "
      [ "$rps" = "${rps%% *}" ] || runs[$name-$kind-errors]=yes
      ratios[$name-$kind]+="$(awk -v a="${rps%% *}" -v b="${anchor%% *}" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }') "
      note "round $round $kind: $name $rps req/s, nginx $anchor req/s"
    done
  done
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

for kind in root feed; do
  what="Root folder's feed (folder%3Aroot/contents, $(stat -c %s "$work/www/rootfeed") bytes)"
  [ "$kind" = feed ] && what="Feed of 10 entries ($(stat -c %s "$work/www/feed") bytes)"
  nginx_median=$(tr ' ' '\n' <<<"${runs[nginx-$kind]}" | grep . | median)
  for name in "${names[@]}"; do
    build=$first
    [ "$name" = second ] && build=$second
    rps=$(tr ' ' '\n' <<<"${runs[$name-$kind]}" | grep . | median)
    r=$(tr ' ' '\n' <<<"${ratios[$name-$kind]}" | grep . | median)
    errors=", no errors"
    [ -n "${runs[$name-$kind-errors]:-}" ] && errors=", ERRORS"
    printf 'BENCH | %s, 64 connections, %s | %s req/s (median of %s rounds%s) | nginx, the same bytes and certificate, interleaved: %s req/s | %.2f | %s\n' \
      "$what" "$(basename "$(cd "$build" && pwd)")" "$rps" "$rounds" "$errors" "$nginx_median" "$r" "$goal"
  done
done
echo "root_feed: load average $load_start at the start, $load_end at the end" >&2
