#!/usr/bin/env bash
# Feeds and sign-ins per second on a large account with the two stores:
# (a) one process on SQLite, answering directly (the anchor), (b) one process
# on PostgreSQL, directly and behind haproxy, (c) two processes on
# PostgreSQL behind haproxy. The PostgreSQL cluster is a private one in a
# temporary folder (scripts/pg-test-cluster.sh), stopped at the end.
# Loopback only; not run by CI.
#
# Usage: bash bench/store_backends.sh BUILD_DIR [ENTRIES] [SECONDS] [CONNECTIONS]
#   ENTRIES (default 100000) documents are written straight into each store
#   in one transaction before the service starts; SECONDS (default 10) per
#   wrk run; CONNECTIONS (default 64).
# Prints "BENCH | What | Figure | Anchor | Ratio | Goal" lines on stdout;
# progress on stderr. Needs haproxy, wrk, curl, sqlite3, python3 and
# PostgreSQL 15's initdb/pg_ctl/psql.
set -uo pipefail

build=${1:?usage: store_backends.sh BUILD_DIR [ENTRIES] [SECONDS] [CONNECTIONS]}
entries=${2:-100000}
seconds=${3:-10}
conns=${4:-64}
here=$(cd "$(dirname "$0")" && pwd)
server_bin=$build/server/tallowdesk-server
pg_bin=${TALLOWDESK_PG_BIN:-/usr/lib/postgresql/15/bin}
for tool in haproxy wrk curl python3 sqlite3 "$pg_bin/psql"; do
  command -v "$tool" >/dev/null || { echo "BENCH | Stores on a large account | not measured: $tool is missing | | |"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-sbench.XXXXXX") || exit 1
chmod 0755 "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/xdg TMPDIR=$work/tmp
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$TMPDIR"
pg_dir=$work/pg
# shellcheck source=haproxy_front.sh
. "$here/haproxy_front.sh"
trap 'stop_all; timeout 60 bash "$here/../scripts/pg-test-cluster.sh" stop "$pg_dir"; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT

echo "starting PostgreSQL in $pg_dir" >&2
timeout 120 bash "$here/../scripts/pg-test-cluster.sh" start "$pg_dir" ||
  { echo "BENCH | Stores on a large account | not measured: PostgreSQL did not start | | |"; exit 1; }
pg_url="postgresql:///postgres?host=$pg_dir&user=tallowdesk"
psql() { timeout 600 "$pg_bin/psql" -q -v ON_ERROR_STOP=1 "$pg_url" "$@"; }

# The same documents in both stores: in the root folder, owned by the
# account, every fourth sharing its edit time with its neighbours.
seed_sql() { # $1: a prefix for each statement; $2: the row numbers' source
  cat <<SQL
$1 INSERT INTO entries(id, kind, title, owner, modified_by, etag, published, updated, edited)
  SELECT 'bench' || i, 'document', 'Quarterly report & notes <' || i || '>',
         'bench@example.test', 'bench@example.test', '"etag-bench' || i || '"',
         1700000000000 + i / 4, 1700000000000 + i / 4, 1700000000000 + i / 4 FROM $2;
$1 INSERT INTO acl(entry, scope_type, scope, role)
  SELECT 'bench' || i, 'user', 'bench@example.test', 'owner' FROM $2;
SQL
}

# setup sqlite|postgresql: a fresh data folder (and schema) with the account
# and its documents; sets data and db_args.
setup() {
  data=$work/data-$1
  db_args=()
  if [ "$1" = postgresql ]; then
    psql -c "DROP SCHEMA IF EXISTS bench CASCADE; CREATE SCHEMA bench" || return 1
    db_args=(--database "$pg_url&options=-csearch_path%3Dbench")
  fi
  printf 'p@ss\n' | timeout 60 "$server_bin" --data-dir "$data" "${db_args[@]}" \
    add-user bench@example.test >/dev/null || return 1
  local start=$SECONDS
  if [ "$1" = postgresql ]; then
    { echo "SET search_path TO bench; BEGIN;"
      seed_sql "" "generate_series(0, $((entries - 1))) AS s(i)"
      echo "COMMIT; ANALYZE;"; } | psql || return 1
  else
    { echo "BEGIN;"
      seed_sql "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $((entries - 1)))" n
      echo "COMMIT; ANALYZE;"; } | timeout 600 sqlite3 "$data/service.db" || return 1
  fi
  echo "seeded $entries entries on $1 in $((SECONDS - start)) s" >&2
}

write_signin_lua

# rate NAME URL [wrk args]: requests per second of a wrk run, kept in
# rates[NAME]; answers other than 2xx/3xx in errors[NAME].
declare -A rates errors
rate() {
  local name=$1 url=$2
  shift 2
  timeout $((seconds + 60)) wrk -t2 -c"$conns" -d"${seconds}s" --timeout 10s "$@" "$url" \
    >"$work/wrk-$name.out" 2>&1
  rates[$name]=$(awk '/^Requests\/sec/ {print int($2)}' "$work/wrk-$name.out")
  errors[$name]=$(awk '/Non-2xx/ {n += $NF} /Socket errors/ {n += 1} END {print n + 0}' "$work/wrk-$name.out")
  echo "$name: ${rates[$name]:-0} req/s, ${errors[$name]} with errors" >&2
}
token_of() {
  curl -s --cacert "$data/cert.pem" -d "$login_body" \
    "https://localhost:$1/accounts/ClientLogin" | sed -n 's/^Auth=//p'
}
feed=/feeds/default/private/full
measure() { # $1: name; $2: port
  local token
  token=$(token_of "$2")
  [ -n "$token" ] || { echo "no token on $1" >&2; return 1; }
  rate "feed-$1" "https://localhost:$2$feed" -H 'GData-Version: 3.0' -H "Authorization: GoogleLogin auth=$token"
  rate "signin-$1" "https://localhost:$2/accounts/ClientLogin" -s "$work/signin.lua"
}

if setup sqlite && start 1; then
  measure sqlite "${ports[0]}"
fi
stop_all
if setup postgresql && start 1; then
  measure pg1-direct "${ports[0]}"
  measure pg1-haproxy "$front"
fi
stop_all
if start 2; then
  measure pg2-haproxy "$front"
fi
stop_all

ratio() { python3 -c "import sys; a, b = map(float, sys.argv[1:]); print(f'{a / b:.2f}' if b else '-')" "$1" "$2"; }
row() { # $1: kind (feed|signin); $2: name; $3: label; $4: goal
  local what unit
  if [ "$1" = feed ]; then
    what="Feed page ($entries entries in the account)"
    unit=req/s
  else
    what="ClientLogin"
    unit=sign-ins/s
  fi
  local figure=${rates[$1-$2]:-}
  if [ -z "$figure" ]; then
    printf 'BENCH | %s, %s, %s connections | not measured: see the log | | | %s |\n' "$what" "$3" "$conns" "$4"
    return
  fi
  printf 'BENCH | %s, %s, %s connections | %s %s (%s answers with errors) | SQLite, one process directly: %s %s | %s | %s |\n' \
    "$what" "$3" "$conns" "$figure" "$unit" "${errors[$1-$2]}" "${rates[$1-sqlite]:-0}" "$unit" \
    "$(ratio "$figure" "${rates[$1-sqlite]:-0}")" "$4"
}
for kind in feed signin; do
  row "$kind" sqlite "SQLite, one process directly" "anchor"
  row "$kind" pg1-direct "PostgreSQL, one process directly" ">= 0.5 of SQLite"
  row "$kind" pg1-haproxy "PostgreSQL, haproxy + one process" "-"
  row "$kind" pg2-haproxy "PostgreSQL, haproxy + two processes" ">= haproxy + one process"
done
