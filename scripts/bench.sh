#!/usr/bin/env bash
# Runs every benchmark on loopback in one go and prints one markdown table of
# figures beside anchors measured in the same run (nginx serving the same
# bytes with the same certificate, curl, dd conv=fsync on the same file
# system, a bare tinyxml2 parse), then the machine it ran on.
#
# Usage: bash scripts/bench.sh
# Installs wrk and nginx-light with apt-get when missing (benchmarks only,
# never CI), builds a Release configuration in build/bench (ccache when
# present) and runs in a temporary folder with its own HOME, XDG folders and
# TMPDIR; everything it starts is stopped on exit.
#
# Every benchmark prints its rows as
#   BENCH | What | Figure | Anchor | Ratio | Goal
# and this script collects them; a row that could not be measured says
# "not measured: <why>".
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${TALLOWDESK_BENCH_BUILD:-$root/build/bench}
jobs=$(nproc)
started=$(date +%s)
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
note() { echo "bench: $*" >&2; }
# shellcheck source=../bench/nginx_conf.sh
. "$root/bench/nginx_conf.sh"

# --- tools ------------------------------------------------------------------
missing=()
command -v wrk >/dev/null || missing+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || missing+=(nginx-light)
command -v curl >/dev/null || missing+=(curl)
command -v jq >/dev/null || missing+=(jq)
command -v haproxy >/dev/null || missing+=(haproxy)
command -v sqlite3 >/dev/null || missing+=(sqlite3)
[ -x /usr/lib/postgresql/15/bin/initdb ] || missing+=(postgresql)
if [ ${#missing[@]} -gt 0 ]; then
  note "installing ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
  DEBIAN_FRONTEND=noninteractive timeout 600 "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 \
    install -y --no-install-recommends "${missing[@]}" >&2 || note "could not install ${missing[*]}"
fi
PATH=$PATH:/usr/sbin
have() { command -v "$1" >/dev/null; }

# --- build ------------------------------------------------------------------
launcher=()
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && have ccache; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
generator=()
have ninja && generator=(-G Ninja)
note "building (Release) in $build"
cmake -S "$root" -B "$build" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DTALLOWDESK_TESTS=OFF -DTALLOWDESK_WERROR=OFF >&2 || {
  note "configure failed"
  exit 1
}
cmake --build "$build" -j"$jobs" --target tallowdesk-server tallowdesk-cli transfer_bench \
  parse_bench feed_page_bench >&2 || {
  note "build failed"
  exit 1
}
# TALLOWDESK_BENCH_SKIP_UI=1 leaves out the window's listing (its build is
# the longest by far).
ui_built=yes
if [ -n "${TALLOWDESK_BENCH_SKIP_UI:-}" ]; then
  ui_built=skipped
else
  cmake --build "$build" -j"$jobs" --target ui_listing_bench >&2 || ui_built=no
fi

# --- temporary folders, processes -------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-bench.XXXXXX") || exit 1
# nginx's workers read the served files as its unprivileged user.
chmod 755 "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime TMPDIR=$work/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
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

rows=$work/rows
: >"$rows"
# row WHAT FIGURE ANCHOR RATIO GOAL (an empty cell shows as a dash)
row() {
  printf 'BENCH | %s | %s | %s | %s | %s\n' "$1" "$2" "${3:-—}" "${4:-—}" "$5" >>"$rows"
}
collect() { grep '^BENCH |' "$1" >>"$rows"; }
# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_for() {
  local tenths=$(($1 * 10))
  shift
  while [ "$tenths" -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    tenths=$((tenths - 1))
  done
  return 1
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "—" }'; }

# --- feed parsing -----------------------------------------------------------
note "feed parsing"
timeout 300 "$build/bench/parse_bench" >"$work/parse.out" 2>"$work/parse.err"
if grep -q '^BENCH |' "$work/parse.out"; then
  collect "$work/parse.out"
else
  row "Feed parsing: ParseFeedEntries, 1000 entries" \
    "not measured: parse_bench failed ($(tail -1 "$work/parse.err"))" "" "" \
    ">= 50,000 entries/s and >= 0.5"
fi

# --- the service, signed in, with a feed of 10 entries ----------------------
email=bench@example.test
password=bench-password
server_dir=$work/server
ca=$server_dir/cert.pem
port=
service_pid=
start_service() {
  echo "$password" | timeout 60 "$build/server/tallowdesk-server" --data-dir "$server_dir" \
    add-user "$email" >/dev/null || return 1
  "$build/server/tallowdesk-server" --data-dir "$server_dir" --port 0 >"$work/server.log" 2>&1 &
  service_pid=$!
  pids+=("$service_pid")
  port_line() { grep -m1 -o 'listening on https://localhost:[0-9]*' "$work/server.log"; }
  wait_for 30 port_line >/dev/null || return 1
  port=$(port_line | sed 's/.*://')
}
service_down=
start_service || service_down="the service did not start ($(tail -1 "$work/server.log" 2>/dev/null))"
base=https://localhost:$port
token=
if [ -z "$service_down" ]; then
  token=$(timeout 60 curl -sS --cacert "$ca" -d accountType=HOSTED_OR_GOOGLE \
    --data-urlencode "Email=$email" --data-urlencode "Passwd=$password" -d service=writely \
    "$base/accounts/ClientLogin" | sed -n 's/^Auth=//p')
  [ -n "$token" ] || service_down="ClientLogin with curl gave no token"
fi
gdata=(-H "GData-Version: 3.0" -H "Authorization: GoogleLogin auth=$token")

nginx_port=
nginx_down=
mkdir -p "$work/www" "$work/nginx"
chmod 755 "$work/www"
start_nginx() {
  have nginx || {
    nginx_down="nginx is missing"
    return 1
  }
  [ -z "$service_down" ] || {
    nginx_down="no certificate: $service_down"
    return 1
  }
  nginx_port=$(free_port) || return 1
  cp "$ca" "$work/nginx/cert.pem"
  cp "$server_dir/key.pem" "$work/nginx/key.pem"
  nginx_conf "$work/nginx" "$work/www" "$nginx_port" "$jobs"
  nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" \
    >"$work/nginx/out.log" 2>&1 &
  pids+=($!)
  nginx_up() { curl -s -o /dev/null --cacert "$ca" "https://localhost:$nginx_port/"; }
  wait_for 30 nginx_up || {
    nginx_down="nginx did not start ($(tail -1 "$work/nginx/error.log" 2>/dev/null))"
    return 1
  }
}

feed_url=$base/feeds/default/private/full
feed_bytes=0
if [ -z "$service_down" ]; then
  # Ten entries of the kinds a folder holds.
  kinds=(document spreadsheet presentation document folder document spreadsheet document
    presentation document)
  for i in "${!kinds[@]}"; do
    kind=${kinds[$i]}
    timeout 60 curl -sS --fail --cacert "$ca" "${gdata[@]}" -H "Content-Type: application/atom+xml" \
      --data-binary "<?xml version='1.0' encoding='UTF-8'?><entry xmlns='http://www.w3.org/2005/Atom'><category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/docs/2007#$kind'/><title>Quarterly report $((i + 1)) ($kind)</title></entry>" \
      -o /dev/null "$feed_url" || service_down="creating the feed's entries failed"
  done
  timeout 60 curl -sS --fail --cacert "$ca" "${gdata[@]}" -o "$work/www/feed" "$feed_url" ||
    service_down="fetching the feed failed"
  feed_bytes=$(stat -c %s "$work/www/feed" 2>/dev/null || echo 0)
  timeout 60 curl -sS --fail --cacert "$ca" "${gdata[@]}" -o "$work/www/rootfeed" \
    "$feed_url/folder%3Aroot/contents" || service_down="fetching the root folder's feed failed"
  root_bytes=$(stat -c %s "$work/www/rootfeed" 2>/dev/null || echo 0)
fi
start_nginx || note "nginx: $nginx_down"

# wrk_run CONNECTIONS URL OUT: 2 threads, 10 s, latency percentiles.
wrk_run() {
  timeout 60 wrk -t2 -c"$1" -d10s --latency "${gdata[@]}" "$2" >"$3" 2>&1
}
# wrk_field OUT NAME: req/s, p50 and p99 in ms, errors.
wrk_field() {
  awk -v want="$2" '
    function ms(v) {
      if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000
      if (v ~ /m$/) return v * 60000; return v }
    /Requests\/sec:/ { rps = $2 }
    $1 == "50%" { p50 = ms($2) }
    $1 == "99%" { p99 = ms($2) }
    /Socket errors:/ { sock = $4 + $6 + $8 + $10 }
    /Non-2xx or 3xx responses:/ { non2xx = $5 }
    END {
      if (want == "rps") printf "%.0f", rps
      if (want == "p50") printf "%.2f", p50
      if (want == "p99") printf "%.2f", p99
      if (want == "errors") printf "non-2xx %d, socket errors %d", non2xx, sock
    }' "$1"
}
wrk_text() {
  printf '%s req/s, p50 %s ms, p99 %s ms, %s' "$(wrk_field "$1" rps)" "$(wrk_field "$1" p50)" \
    "$(wrk_field "$1" p99)" "$(wrk_field "$1" errors)"
}
note "feeds with wrk"
for c in 8 64; do
  what="Feed of 10 entries ($feed_bytes bytes) through the service, $c connections"
  goal="p50 <= 2 ms, no errors"
  [ "$c" -eq 64 ] && goal=">= 5,000 req/s (~0.3 of nginx), no errors"
  if ! have wrk; then
    row "$what" "not measured: wrk is missing" "" "" "$goal"
  elif [ -n "$service_down" ]; then
    row "$what" "not measured: $service_down" "" "" "$goal"
  else
    wrk_run "$c" "$feed_url" "$work/wrk-service-$c.out"
    anchor="not measured: $nginx_down"
    r="—"
    if [ -z "$nginx_down" ]; then
      wrk_run "$c" "https://localhost:$nginx_port/feed" "$work/wrk-nginx-$c.out"
      anchor="nginx, the same bytes and certificate: $(wrk_text "$work/wrk-nginx-$c.out")"
      r=$(ratio "$(wrk_field "$work/wrk-service-$c.out" rps)" \
        "$(wrk_field "$work/wrk-nginx-$c.out" rps)")
    fi
    row "$what" "$(wrk_text "$work/wrk-service-$c.out")" "$anchor" "$r" "$goal"
  fi
done
# The root folder's contents: the same entries through the root folder's own
# listing, the page the window asks for first.
what="Root folder's feed (folder%3Aroot/contents, ${root_bytes:-0} bytes) through the service, 64 connections"
goal=">= 0.3 of nginx, no errors"
if ! have wrk; then
  row "$what" "not measured: wrk is missing" "" "" "$goal"
elif [ -n "$service_down" ]; then
  row "$what" "not measured: $service_down" "" "" "$goal"
else
  wrk_run 64 "$feed_url/folder%3Aroot/contents" "$work/wrk-service-root.out"
  anchor="not measured: $nginx_down"
  r="—"
  if [ -z "$nginx_down" ]; then
    wrk_run 64 "https://localhost:$nginx_port/rootfeed" "$work/wrk-nginx-root.out"
    anchor="nginx, the same bytes and certificate: $(wrk_text "$work/wrk-nginx-root.out")"
    r=$(ratio "$(wrk_field "$work/wrk-service-root.out" rps)" \
      "$(wrk_field "$work/wrk-nginx-root.out" rps)")
  fi
  row "$what" "$(wrk_text "$work/wrk-service-root.out")" "$anchor" "$r" "$goal"
fi
# The feed service is done: stop it so that it does not share the cores.
if [ -n "$service_pid" ]; then
  kill "$service_pid" 2>/dev/null
  wait "$service_pid" 2>/dev/null
fi

# --- pages of a 100,000-entry account, inside the service ------------------------
note "pages of a 100,000-entry account"
timeout 600 "$build/bench/feed_page_bench" --entries 100000 --rounds 50 \
  >"$work/pages.out" 2>"$work/pages.err"
pages_status=$?
# page_us LISTING first|last: microseconds per page from feed_page_bench.
page_us() {
  awk -v want="$1, $2 page:" 'index($0, want) == 1 { print $(NF - 5) }' "$work/pages.out"
}
folder_us=$(page_us "large folder" first)
for listing in "root folder" "shared with me"; do
  for which in first last; do
    what="A 100,000-entry account: $which page of 100 of the $listing (built in the service, no network)"
    us=$(page_us "$listing" "$which")
    if [ -z "$us" ] || [ -z "$folder_us" ]; then
      row "$what" "not measured: feed_page_bench ended with status $pages_status ($(tail -1 "$work/pages.err" 2>/dev/null))" \
        "" "" "<= 2x a folder page"
    else
      row "$what" "$us us per page" "first page of 100 of a 100,000-entry folder: $folder_us us" \
        "$(ratio "$us" "$folder_us")" "<= 2x a folder page"
    fi
  done
done

# --- transfers: the client and curl against the service ----------------------
note "transfers (64 MiB and 1 GiB)"
timeout 1200 "$build/bench/transfer_bench" --size-mib 1024 --small-mib 64 --dir "$TMPDIR" \
  >"$work/transfer.out" 2>"$work/transfer.err"
transfer_status=$?
# "<small|large> <upload|download> N bytes: client X MiB/s, curl Y MiB/s, ratio R"
transfer_field() {
  awk -v size="$1" -v dir="$2" -v want="$3" '
    $1 == size && $2 == dir {
      for (i = 1; i <= NF; ++i) {
        if ($i == "client") client = $(i + 1)
        if ($i == "curl") curl = $(i + 1)
      }
      if (want == "client") print client; else print curl
    }' "$work/transfer.out"
}
transfer_memory() {
  awk -v size="$1" '$1 == size && /peak resident memory/ { print $(NF - 1) }' "$work/transfer.out"
}
transfer_why="not measured: transfer_bench ended with status $transfer_status ($(tail -1 "$work/transfer.err" 2>/dev/null))"

# The disk's own pace: 1 GiB written and synced on the same file system.
dd_rate=
if LC_ALL=C timeout 600 dd if=/dev/zero of="$TMPDIR/dd.bin" bs=1M count=1024 conv=fsync \
  2>"$work/dd.err"; then
  dd_seconds=$(tail -1 "$work/dd.err" | awk -F', ' '{ split($3, s, " "); print s[1] }')
  dd_rate=$(awk -v s="$dd_seconds" 'BEGIN { if (s > 0) printf "%.1f", 1024 / s }')
fi
up=$(transfer_field large upload curl)
what="Upload of 1 GiB through the service (curl form upload, 1 GiB - 1 byte)"
if [ -z "$up" ]; then
  row "$what" "$transfer_why" "" "" ">= 0.6"
elif [ -z "$dd_rate" ]; then
  row "$what" "$up MiB/s" "not measured: dd failed ($(tail -1 "$work/dd.err"))" "—" ">= 0.6"
else
  row "$what" "$up MiB/s" "dd conv=fsync of 1 GiB on the same file system: $dd_rate MiB/s" \
    "$(ratio "$up" "$dd_rate")" ">= 0.6"
fi
# CPU seconds do not depend on what else the machine runs as much as wall
# time does: the service's against curl's own for the same upload.
# "large upload-cpu N bytes: service S s, curl C s"
read -r service_cpu curl_cpu < <(awk '$1 == "large" && $2 == "upload-cpu" {
  for (i = 1; i <= NF; ++i) if ($i == "service") s = $(i + 1)
  print s, $(NF - 1) }' "$work/transfer.out")
what="CPU time of the service for that upload"
if [ -z "${service_cpu:-}" ]; then
  row "$what" "$transfer_why" "" "" "—"
else
  row "$what" "$service_cpu s" "curl's own CPU time for it: $curl_cpu s" \
    "$(ratio "$service_cpu" "$curl_cpu")" "—"
fi

# curl from nginx: the same size over TLS with the same certificate.
down=$(transfer_field large download curl)
what="Download of 1 GiB from the service with curl"
nginx_rate=
if [ -z "$nginx_down" ] && [ -f "$TMPDIR/dd.bin" ]; then
  mv "$TMPDIR/dd.bin" "$work/www/big.bin"
  chmod 644 "$work/www/big.bin"
  speed=$(timeout 600 curl -sS --fail --cacert "$ca" -o "$TMPDIR/nginx-download.bin" \
    -w '%{speed_download}' "https://localhost:$nginx_port/big.bin")
  nginx_rate=$(awk -v b="$speed" 'BEGIN { if (b > 0) printf "%.1f", b / 1048576 }')
  rm -f "$TMPDIR/nginx-download.bin" "$work/www/big.bin"
fi
rm -f "$TMPDIR/dd.bin"
if [ -z "$down" ]; then
  row "$what" "$transfer_why" "" "" ">= 0.5"
elif [ -z "$nginx_rate" ]; then
  row "$what" "$down MiB/s" "not measured: ${nginx_down:-the nginx download failed}" "—" ">= 0.5"
else
  row "$what" "$down MiB/s" "curl from nginx, same size, TLS: $nginx_rate MiB/s" \
    "$(ratio "$down" "$nginx_rate")" ">= 0.5"
fi

for size in small large; do
  label="64 MiB"
  [ "$size" = large ] && label="1 GiB"
  for dir in download upload; do
    what="Client $dir, $label (tallowdesk library)"
    client=$(transfer_field "$size" "$dir" client)
    curl_rate=$(transfer_field "$size" "$dir" curl)
    if [ -z "$client" ]; then
      row "$what" "$transfer_why" "" "" ">= 0.95"
    else
      row "$what" "$client MiB/s" "curl, same service and file: $curl_rate MiB/s" \
        "$(ratio "$client" "$curl_rate")" ">= 0.95"
    fi
  done
done
# The client syncs a download before renaming it into place; curl does not,
# so curl followed by an fsync of its file is the fair anchor.
for size in small large; do
  label="64 MiB"
  [ "$size" = large ] && label="1 GiB"
  what="Client download, $label, against curl followed by a sync of the file"
  client=$(transfer_field "$size" download-synced client)
  curl_rate=$(transfer_field "$size" download-synced curl)
  if [ -z "$client" ]; then
    row "$what" "$transfer_why" "" "" ">= 0.95"
  else
    row "$what" "$client MiB/s" "curl, same service and file, then fsync: $curl_rate MiB/s" \
      "$(ratio "$client" "$curl_rate")" ">= 0.95"
  fi
done
small_kb=$(transfer_memory small)
large_kb=$(transfer_memory large)
if [ -n "$small_kb" ] && [ -n "$large_kb" ]; then
  row "Client peak resident memory, 64 MiB and 1 GiB transfers" "$small_kb KiB / $large_kb KiB" \
    "— (the 64 MiB run)" "$(ratio "$large_kb" "$small_kb")" "flat in the file size (~14 MB)"
else
  row "Client peak resident memory" "$transfer_why" "" "" "flat in the file size (~14 MB)"
fi

# --- many small files ---------------------------------------------------------
note "many small files"
if [ -f "$root/bench/small_files.sh" ]; then
  timeout 1200 bash "$root/bench/small_files.sh" "$build" >"$work/small.out" 2>"$work/small.err"
  small_status=$?
  if grep -q '^BENCH |' "$work/small.out"; then
    collect "$work/small.out"
  else
    row "Many small files: folder of 250 files, get and put" \
      "not measured: small_files.sh ended with status $small_status and printed no rows" \
      "" "" ">= 150 files/s down, >= 100 up"
  fi
else
  row "Many small files: folder of 250 files, get and put" \
    "not measured: bench/small_files.sh is missing" "" "" ">= 150 files/s down, >= 100 up"
fi

# --- connection flood ----------------------------------------------------------
note "connection flood"
if timeout 300 python3 "$root/bench/connection_flood.py" "$build" >"$work/flood.out" 2>"$work/flood.err" &&
  grep -q '^BENCH |' "$work/flood.out"; then
  collect "$work/flood.out"
else
  row "Client's requests answered during a connection flood" \
    "not measured: connection_flood.py printed no rows" "" "" "all answered (1.00)"
fi

# --- the two stores on a large account -----------------------------------------
note "SQLite and PostgreSQL on a 100,000-entry account"
stores_goal="PostgreSQL >= 0.5 of SQLite; two processes >= one"
if [ -f "$root/bench/store_backends.sh" ]; then
  timeout 1200 bash "$root/bench/store_backends.sh" "$build" >"$work/stores.out" 2>"$work/stores.err"
  stores_status=$?
  if grep -q '^BENCH |' "$work/stores.out"; then
    collect "$work/stores.out"
  else
    row "Feeds and sign-ins, SQLite and PostgreSQL, 100,000 entries" \
      "not measured: store_backends.sh ended with status $stores_status and printed no rows" \
      "" "" "$stores_goal"
  fi
else
  row "Feeds and sign-ins, SQLite and PostgreSQL, 100,000 entries" \
    "not measured: bench/store_backends.sh is missing" "" "" "$stores_goal"
fi

# --- listing 10,000 entries in the window -------------------------------------
note "listing 10,000 entries in the window"
listing_goal="first row <= 0.3 s, last row <= 3 s, stall <= 30 ms"
if [ "$ui_built" = skipped ]; then
  row "Listing 10,000 entries in the window" "not measured: skipped (TALLOWDESK_BENCH_SKIP_UI)" \
    "" "" "$listing_goal"
elif [ "$ui_built" != yes ]; then
  row "Listing 10,000 entries in the window" "not measured: ui_listing_bench did not build" \
    "" "" "$listing_goal"
else
  QT_QPA_PLATFORM=offscreen timeout 1200 "$build/bench/ui/ui_listing_bench" --entries 10000 \
    --page-size 100 --runs 3 >"$work/ui.out" 2>"$work/ui.err"
  ui_status=$?
  if grep -q '^BENCH |' "$work/ui.out"; then
    collect "$work/ui.out"
  else
    # Its older output: "<style> median: first row X ms, last row Y ms, longest stall Z ms".
    for style in details "large icons" "small icons" list; do
      line=$(grep -E "^ *$style +median:" "$work/ui.out")
      what="Listing 10,000 entries in the window (pages of 100), $style view"
      if [ -n "$line" ]; then
        row "$what" "$(echo "$line" | sed -E 's/^ *[a-z ]+median: *//; s/ +/ /g')" \
          "— (absolute goal)" "—" "$listing_goal"
      else
        row "$what" "not measured: ui_listing_bench (status $ui_status) runs no $style view" \
          "" "" "$listing_goal"
      fi
    done
    row "Memory of the window for 10,000 rows" \
      "not measured: ui_listing_bench does not report it" "" "" "reported"
  fi
fi

# --- the table --------------------------------------------------------------
echo
echo "| What | Figure | Anchor measured in the same run | Ratio | Goal |"
echo "|---|---|---|---|---|"
sed -E 's/^BENCH \| ?//; s/ *$//; s/^/| /; s/$/ |/' "$rows"
echo
fs=$(df -PT "$TMPDIR" | awk 'NR == 2 { print $2 }')
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
echo "Machine: $(nproc) cores, $cpu; load average $load_at_start at the start," \
  "$(cut -d' ' -f1-3 /proc/loadavg) at the end; kernel $(uname -r); temporary folder on $fs." \
  "Run took $(($(date +%s) - started)) s."
