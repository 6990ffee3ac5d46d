#!/usr/bin/env bash
# Two clients taking turns on one service: `tallowdesk-cli get` of the same
# folder of small files with the client of BUILD_A, then of BUILD_B, then curl
# fetching the same files on one connection, ROUNDS times; then the median of
# each. On a machine shared with others a run moves by 1.5x against the next,
# so only rounds side by side tell two clients apart.
#
# Usage: bash bench/small_files_ab.sh BUILD_A BUILD_B [ROUNDS] [FILES]
#   The service is BUILD_B's; BUILD_A only lends its cli/tallowdesk-cli.
#   SMALL_FILES_TRANSFERS: the --transfers counts of each round ("1 4").
# Prints one line per round and a median line per client and count on stdout.
# Runs in a temporary folder with its own HOME and XDG folders, removed at the
# end; every call has a timeout.
set -uo pipefail

a=${1:?usage: small_files_ab.sh BUILD_A BUILD_B [ROUNDS] [FILES]}
b=${2:?usage: small_files_ab.sh BUILD_A BUILD_B [ROUNDS] [FILES]}
rounds=${3:-7}
count=${4:-250}
transfers_list=${SMALL_FILES_TRANSFERS:-"1 4"}
server_bin=$b/server/tallowdesk-server
for bin in "$a/cli/tallowdesk-cli" "$b/cli/tallowdesk-cli" "$server_bin"; do
  [ -x "$bin" ] || {
    echo "small_files_ab: $bin is not built" >&2
    exit 1
  }
done
command -v curl >/dev/null && command -v jq >/dev/null || {
  echo "small_files_ab: needs curl and jq" >&2
  exit 1
}

cli_b=$b/cli/tallowdesk-cli
give_up() {
  echo "small_files_ab: $1" >&2
  exit 1
}
# shellcheck source=small_files_service.sh
. "$(dirname "$0")/small_files_service.sh"
start_small_files_service tallowdesk-ab give_up "$cli_b"

mkdir -p "$work/up/Small"
for i in $(seq "$count"); do
  head -c $(((i * 7919) % 16384 + 1024)) /dev/urandom >"$work/up/Small/file-$i.bin"
done
timeout 60 "$cli_b" mkdir Put >/dev/null 2>&1 &&
  timeout 600 "$cli_b" put "$work/up/Small" --to Put --quiet >/dev/null 2>&1 || {
  echo "small_files_ab: the files could not be put" >&2
  exit 1
}

auth=$(timeout 60 curl -sS --cacert "$ca" -d accountType=HOSTED_OR_GOOGLE \
  --data-urlencode "Email=$email" --data-urlencode "Passwd=$password" -d service=writely \
  "https://localhost:$port/accounts/ClientLogin" | sed -n 's/^Auth=//p')
timeout 120 "$cli_b" ls Put/Small --json >"$work/ls.json" 2>/dev/null || exit 1
# curl too writes new files into a fresh folder each round: making a file
# costs the file system more than filling one that is there.
n=0
while read -r url; do
  n=$((n + 1))
  printf 'url = "%s"\noutput = "curl-%d"\n' "$url" "$n"
done < <(jq -r '.[] | select(.contentSrc != null) | .contentSrc' "$work/ls.json") >"$work/curl.conf"

now() { date +%s.%N; }
rate() { awk -v n="$count" -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", n / (b - a) }'; }
# One get into a fresh folder; prints files/s, or "failed".
get_rate() {
  local cli=$1 n=$2 dir
  dir=$(mktemp -d "$work/down.XXXXXX")
  local start
  start=$(now)
  if timeout 600 "$cli" get Put/Small --to "$dir" --quiet --transfers "$n" >/dev/null 2>&1 &&
    [ "$(find "$dir" -type f | wc -l)" -eq "$count" ]; then
    rate "$start" "$(now)"
  else
    echo failed
  fi
  rm -rf "$dir"
}
curl_rate() {
  local dir start
  dir=$(mktemp -d "$work/curl.XXXXXX")
  start=$(now)
  if (cd "$dir" && timeout 600 curl -sS --fail --cacert "$ca" -H "GData-Version: 3.0" \
    -H "Authorization: GoogleLogin auth=$auth" -K "$work/curl.conf"); then
    awk -v n="$n" -v a="$start" -v b="$(now)" 'BEGIN { printf "%.1f", n / (b - a) }'
  else
    echo failed
  fi
  rm -rf "$dir"
}

declare -A figures
for r in $(seq "$rounds"); do
  line="round $r (load $(cut -d' ' -f1 /proc/loadavg)):"
  for t in $transfers_list; do
    # Each goes first every other round.
    if [ $((r % 2)) = 1 ]; then
      fa=$(get_rate "$a/cli/tallowdesk-cli" "$t")
      fb=$(get_rate "$cli_b" "$t")
    else
      fb=$(get_rate "$cli_b" "$t")
      fa=$(get_rate "$a/cli/tallowdesk-cli" "$t")
    fi
    figures[a$t]+="$fa "
    figures[b$t]+="$fb "
    line+=" N=$t A $fa B $fb;"
  done
  fc=$(curl_rate)
  figures[curl]+="$fc "
  echo "$line curl $fc files/s"
done
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END { print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2 }'; }
mc=$(echo "${figures[curl]}" | median)
for t in $transfers_list; do
  ma=$(echo "${figures[a$t]}" | median)
  mb=$(echo "${figures[b$t]}" | median)
  echo "median N=$t: A $ma files/s, B $mb files/s, curl $mc files/s;" \
    "B/A $(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.2f", b / a }')," \
    "A/curl $(awk -v a="$ma" -v c="$mc" 'BEGIN { printf "%.2f", a / c }')," \
    "B/curl $(awk -v b="$mb" -v c="$mc" 'BEGIN { printf "%.2f", b / c }')"
done
