#!/usr/bin/env bash
# Many small files: tallowdesk-cli puts a folder of 250 small files into a
# fresh local service and gets it back (with --transfers 1 and the default, or
# each count in SMALL_FILES_TRANSFERS), checks the files came back whole, and
# curl fetches the same 250 files over one connection as the anchor for the
# download.
#
# Usage: bash bench/small_files.sh BUILD_DIR [FILES]
#   BUILD_DIR holds server/tallowdesk-server and cli/tallowdesk-cli.
# Prints its figures as "BENCH | What | Figure | Anchor | Ratio | Goal" lines
# on stdout (scripts/bench.sh collects them); progress goes to stderr. Runs in
# a temporary folder with its own HOME and XDG folders, removed at the end.
set -uo pipefail

build=${1:?usage: small_files.sh BUILD_DIR [FILES]}
count=${2:-250}
server_bin=$build/server/tallowdesk-server
cli_bin=$build/cli/tallowdesk-cli
goal_down=">= 150 files/s"
goal_up=">= 100 files/s"
what_down="Many small files: tallowdesk-cli get of a folder of $count files"
what_up="Many small files: tallowdesk-cli put of a folder of $count files"

not_measured() {
  printf 'BENCH | %s | not measured: %s | | | %s\n' "$what_down" "$1" "$goal_down"
  printf 'BENCH | %s | not measured: %s | | | %s\n' "$what_up" "$1" "$goal_up"
  exit 1
}
if [ ! -x "$server_bin" ] || [ ! -x "$cli_bin" ]; then
  not_measured "tallowdesk-server or tallowdesk-cli not built in $build"
fi
command -v curl >/dev/null || not_measured "curl is missing"
command -v jq >/dev/null || not_measured "jq is missing"

# shellcheck source=small_files_service.sh
. "$(dirname "$0")/small_files_service.sh"
start_small_files_service tallowdesk-small not_measured "$cli_bin"

# Sizes from 1 to 16 KiB.
mkdir -p "$work/up/Small" "$work/down"
for i in $(seq "$count"); do
  head -c $(((i * 7919) % 16384 + 1024)) /dev/urandom >"$work/up/Small/file-$i.bin"
done

now() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.1f", n / (b - a) }'; }

# --transfers: 1 (one file after another) and the default, or the counts in
# SMALL_FILES_TRANSFERS ("1 2 4 8"); a client without the option runs 1 only.
transfers_list=${SMALL_FILES_TRANSFERS:-"1 4"}
"$cli_bin" get --help 2>/dev/null | grep -q -- '--transfers' || transfers_list=1
declare -A up_rate down_rate put_status get_status got
for n in $transfers_list; do
  opt=()
  [ "$transfers_list" = 1 ] || opt=(--transfers "$n")
  timeout 60 "$cli_bin" mkdir "Put$n" >"$work/mkdir.log" 2>&1 ||
    not_measured "tallowdesk-cli mkdir failed: $(tail -1 "$work/mkdir.log")"
  echo "small_files: put of $count files, --transfers $n" >&2
  start=$(now)
  timeout 600 "$cli_bin" put "$work/up/Small" --to "Put$n" --quiet "${opt[@]}" >"$work/put.log" 2>&1
  put_status[$n]=$?
  up_rate[$n]=$(rate "$count" "$start" "$(now)")

  echo "small_files: get of $count files, --transfers $n" >&2
  mkdir -p "$work/down-$n"
  start=$(now)
  timeout 600 "$cli_bin" get "Put$n/Small" --to "$work/down-$n" --quiet "${opt[@]}" \
    >"$work/get.log" 2>&1
  get_status[$n]=$?
  down_rate[$n]=$(rate "$count" "$start" "$(now)")
  got[$n]=$(find "$work/down-$n" -type f | wc -l)
  if ! cmp -s <(cd "$work/up" && find Small -type f -exec md5sum {} + | sort) \
    <(cd "$work/down-$n" && find Small -type f -exec md5sum {} + | sort); then
    get_status[$n]="$((${get_status[$n]} + 100)) (files differ)"
  fi
done

# The anchor: one curl fetching the same files one after another on one
# connection, with the token of a ClientLogin.
anchor="—"
ratio="—"
auth=$(timeout 60 curl -sS --cacert "$ca" -d accountType=HOSTED_OR_GOOGLE \
  --data-urlencode "Email=$email" --data-urlencode "Passwd=$password" -d service=writely \
  "https://localhost:$port/accounts/ClientLogin" | sed -n 's/^Auth=//p')
if [ -n "$auth" ] && timeout 120 "$cli_bin" ls Put1/Small --json >"$work/ls.json" 2>/dev/null; then
  jq -r '.[] | select(.contentSrc != null) | .contentSrc' "$work/ls.json" >"$work/urls"
  n=0
  while read -r url; do
    n=$((n + 1))
    printf 'url = "%s"\noutput = "%s/curl-%d"\n' "$url" "$work/down" "$n"
  done <"$work/urls" >"$work/curl.conf"
  start=$(now)
  if [ "$n" -gt 0 ] && timeout 600 curl -sS --fail --cacert "$ca" -H "GData-Version: 3.0" \
    -H "Authorization: GoogleLogin auth=$auth" -K "$work/curl.conf"; then
    curl_rate=$(rate "$n" "$start" "$(now)")
    anchor="curl, the same $n files on one connection: $curl_rate files/s"
  fi
fi

ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "—" }'; }
for n in $transfers_list; do
  label=""
  [ "$transfers_list" = 1 ] || label=", --transfers $n"
  if [ "${put_status[$n]}" = 0 ]; then
    if [ "$n" = 1 ]; then
      printf 'BENCH | %s%s | %s files/s | — | — | %s\n' "$what_up" "$label" "${up_rate[$n]}" \
        "$goal_up"
    else
      printf 'BENCH | %s%s | %s files/s | the same with --transfers 1: %s files/s | %s | %s\n' \
        "$what_up" "$label" "${up_rate[$n]}" "${up_rate[1]}" \
        "$(ratio_of "${up_rate[$n]}" "${up_rate[1]}")" "> 1 (faster than one at a time)"
    fi
  else
    printf 'BENCH | %s%s | not measured: put ended with status %s | | | %s\n' "$what_up" \
      "$label" "${put_status[$n]}" "$goal_up"
  fi
  if [ "${get_status[$n]}" = 0 ] && [ "${got[$n]}" -eq "$count" ]; then
    curl_ratio="—"
    [ -n "${curl_rate:-}" ] && curl_ratio=$(ratio_of "${down_rate[$n]}" "$curl_rate")
    printf 'BENCH | %s%s | %s files/s | %s | %s | %s\n' "$what_down" "$label" \
      "${down_rate[$n]}" "$anchor" "$curl_ratio" "$goal_down and >= 0.5 of curl"
    if [ "$n" != 1 ]; then
      printf 'BENCH | %s%s | %s files/s | the same with --transfers 1: %s files/s | %s | %s\n' \
        "$what_down" "$label" "${down_rate[$n]}" "${down_rate[1]}" \
        "$(ratio_of "${down_rate[$n]}" "${down_rate[1]}")" "> 1 (faster than one at a time)"
    fi
  else
    printf 'BENCH | %s%s | not measured: get ended with status %s, %s of %s files | | | %s\n' \
      "$what_down" "$label" "${get_status[$n]}" "${got[$n]}" "$count" "$goal_down"
  fi
done
