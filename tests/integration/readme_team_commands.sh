#!/usr/bin/env bash
# Runs the README's commands for a team (PostgreSQL, two service processes
# on one data folder, haproxy in front) as they are written, so that the
# README cannot drift from what the service takes. What only root may do
# on a real machine is done in temporary folders: a PostgreSQL of this
# run's own (superuser postgres, as Debian's) instead of the system one, a
# folder here instead of /srv, free loopback ports instead of 9001, 9002
# and 443, haproxy started here with the README's frontend and backend.
# Package installs, systemd-sysusers and service reloads are left out; any
# other sudo line makes the test fail until it learns it. Then the real
# client signs in, uploads, lists and downloads through haproxy, and both
# processes must have answered.
# Usage: readme_team_commands.sh README SERVER_BIN CLI_BIN
set -u
readme=$1
server_bin=$2
cli_bin=$3

fail() {
  echo "FAILED: $*" >&2
  for log in "$work"/services.log "$work"/haproxy.log "$work"/script.sh; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
  done
  exit 1
}
# shellcheck source=../e2e/e2e_lib.sh
. "$(dirname "$0")/../e2e/e2e_lib.sh"
command -v haproxy >/dev/null || fail "haproxy is not installed (scripts/deps.sh)"

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-readme.XXXXXX") || exit 1
# A socket path ends at 107 bytes: the cluster's folder stays short.
pg=$(mktemp -u /tmp/tdrm.XXXXXX)
haproxy_pid=
cleanup() {
  # The services are this shell's jobs (started by the README's loop).
  for pid in $(jobs -p) $haproxy_pid; do kill -9 "$pid" 2>/dev/null; done
  wait 2>/dev/null
  bash "$(dirname "$0")/../../scripts/pg-test-cluster.sh" stop "$pg" >/dev/null 2>&1
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

TALLOWDESK_PG_SUPERUSER=postgres timeout 120 \
  bash "$(dirname "$0")/../../scripts/pg-test-cluster.sh" start "$pg" || fail "no PostgreSQL"

# The first block of commands under the team heading.
awk '/^### A service for a team/ { on = 1; next }
     on && /^### / { exit }
     on && /^    / { inblock = 1; print substr($0, 5); next }
     on && inblock && !/^$/ { exit }' "$readme" >"$work/block.sh"
[ -s "$work/block.sh" ] || fail "no commands under the team heading of $readme"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port_a=$(free_port)
port_b=$(free_port)
hp=$(free_port)
shared=$work/srv/tallowdesk
mkdir -p "$work/srv"

# What root would do on a real machine, done here.
sed -e "s|/srv/tallowdesk|$shared|g" \
  -e "s|/run/postgresql|$pg|g" \
  -e "s|9001|$port_a|g; s|9002|$port_b|g" \
  -e "s|https://docs.example.org|https://localhost:$hp|g" \
  -e 's/^sudo apt install .*/:/' \
  -e 's/^sudo systemd-sysusers.*/:/' \
  -e 's/^sudo systemctl reload haproxy.*/:/' \
  -e 's/^sudo install -d -o [a-z]* -g [a-z]* /install -d /' \
  -e 's/sudo -u postgres /env PGHOST='"${pg//\//\\/}"' PGUSER=postgres /g' \
  -e 's/sudo -u tallowdesk /env PGUSER=tallowdesk /g' \
  "$work/block.sh" >"$work/script.sh"
if grep -n 'sudo' "$work/script.sh" | grep -v '^[0-9]*:[[:space:]]*#' >"$work/unknown"; then
  fail "the team commands have a sudo line this test does not know: $(cat "$work/unknown")"
fi

# haproxy's part: the commented configuration lines after haproxy.cfg.
sed -n '/haproxy\.cfg/,$ s/^#   //p' "$work/script.sh" | grep -v '^#' >"$work/readme-haproxy.cfg"
grep -q '^frontend' "$work/readme-haproxy.cfg" || fail "no haproxy configuration in the team commands"

# Nothing outside the temporary folders: a line naming a system folder is
# one the test does not know how to move.
if grep -n -E '(^|[ =:])/(var|etc|srv|run|home|root)/' "$work/script.sh" | grep -v '^[0-9]*:[[:space:]]*#' >"$work/unknown"; then
  fail "the team commands name a system folder this test does not move: $(cat "$work/unknown")"
fi

PATH=$(dirname "$server_bin"):$PATH
export PATH
# Run in this shell, so that the loop's services are this shell's jobs.
# shellcheck disable=SC1091
. "$work/script.sh" >"$work/services.log" 2>&1 || fail "a team command failed"
wait_for 30 sh -c "[ \$(grep -c 'Listening on 127.0.0.1:' '$work/services.log') -ge 2 ]" ||
  fail "the two services did not start"
grep -q 'Account anna@example.org saved' "$work/services.log" || fail "add-user did not save anna"
[ -f "$shared/cert.pem" ] || fail "no certificate in the shared folder"

# The front certificate stands in for that of docs.example.org.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -keyout "$work/front.key" -out "$work/front.crt" -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost >/dev/null 2>&1 || fail "openssl"
cat "$work/front.crt" "$work/front.key" >"$work/front.pem"
{
  # What Debian's /etc/haproxy/haproxy.cfg has before the README's part,
  # with the log on standard output.
  printf 'global\n  log stdout format raw local0\ndefaults\n  log global\n  mode http\n'
  printf '  option httplog\n  timeout connect 5000\n  timeout client 50000\n  timeout server 50000\n'
  sed -e "s|bind :443 |bind 127.0.0.1:$hp |" -e "s|/etc/haproxy/docs.example.org.pem|$work/front.pem|" \
    "$work/readme-haproxy.cfg"
} >"$work/haproxy.cfg"
haproxy -c -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 || fail "haproxy refused the README's configuration"
haproxy -db -f "$work/haproxy.cfg" >>"$work/haproxy.log" 2>&1 &
haproxy_pid=$!
wait_for 20 curl -sf --max-time 5 --cacert "$work/front.crt" "https://localhost:$hp/accounts/ServiceLogin" ||
  fail "haproxy does not answer"

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/xdgdata
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
bash "$(dirname "$0")/../../scripts/write-local-config.sh" \
  "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" "$hp" "$work/front.crt"
cli() { timeout 60 "$cli_bin" "$@"; }
echo 'a password' | cli login anna@example.org --remember >"$work/cli.log" 2>&1 ||
  fail "login through haproxy: $(cat "$work/cli.log")"
head -c 300000 /dev/urandom >"$work/report.bin"
cli put "$work/report.bin" --quiet >>"$work/cli.log" 2>&1 || fail "put: $(cat "$work/cli.log")"
cli ls / --json >"$work/ls.json" 2>>"$work/cli.log" || fail "ls: $(cat "$work/cli.log")"
grep -q '"report.bin"' "$work/ls.json" || fail "the upload is not listed"
mkdir -p "$work/down"
cli get report.bin --to "$work/down" --quiet >>"$work/cli.log" 2>&1 || fail "get: $(cat "$work/cli.log")"
cmp -s "$work/report.bin" "$work/down/report.bin" || fail "the file came back different"
for server in a b; do
  grep -q " tallowdesk/$server " "$work/haproxy.log" || fail "process $server answered nothing"
done
echo PASSED
