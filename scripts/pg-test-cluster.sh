#!/usr/bin/env bash
# Starts and stops the private PostgreSQL the server tests run against:
#   pg-test-cluster.sh start DIR | stop DIR
# The cluster lives in DIR/data and listens only on a Unix socket in DIR (no
# TCP). The socket takes connections without a password but only from the
# cluster's owner (and root): its mode is 0700. initdb refuses to run as
# root, so as root the cluster runs as the user nobody. Its superuser is
# tallowdesk, or TALLOWDESK_PG_SUPERUSER.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?folder of the cluster}
bin=${TALLOWDESK_PG_BIN:-/usr/lib/postgresql/15/bin}

as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    (cd "$dir" && as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null) || true
  fi
  rm -rf "$dir"
}

case $action in
  start)
    stop
    mkdir -m 0755 "$dir"
    [ "$(id -u)" = 0 ] && chown nobody "$dir"
    cd "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U "${TALLOWDESK_PG_SUPERUSER:-tallowdesk}" --auth=trust -E UTF8 --no-locale \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    # The tests check what the service commits, not what survives a power
    # cut of the test machine: the cluster skips fsync to spare the disk.
    if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c unix_socket_permissions=0700 -c fsync=off -c max_connections=200" \
      start >/dev/null; then
      cat "$dir/server.log" >&2
      exit 1
    fi
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
