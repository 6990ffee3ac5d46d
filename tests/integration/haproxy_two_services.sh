#!/usr/bin/env bash
# Two service processes on one data folder behind haproxy (Debian's), on
# loopback, with the real client where it can do the step and curl where it
# cannot:
#  1. sign in through one process, list and upload through the other
#     (haproxy balances each request in turn and names the process that
#     answered in X-Served-By);
#  2. an upload session opened through one process and finished through the
#     other (read from both request logs);
#  3. the process receiving a large upload killed with SIGKILL, the upload
#     sent again through the survivor, and every acknowledged file intact
#     (checksums of what is downloaded back);
#  4. failed sign-ins spread over both processes make the CAPTCHA due, and
#     a challenge handed out by one is solved through the other.
# Usage: haproxy_two_services.sh SERVER_BIN CLI_BIN [DATABASE PSQL]
# With a PostgreSQL DATABASE (a libpq address) both processes keep their
# store and shared state there, in a schema of this run's own; psql reads it.
set -u
server_bin=$1
cli_bin=$2
database=${3:-}
base_database=$database
psql_bin=${4:-psql}

fail() {
  echo "FAILED: $*" >&2
  for log in "$work"/a.log "$work"/b.log "$work"/haproxy.log; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
}
# shellcheck source=../e2e/e2e_lib.sh
. "$(dirname "$0")/../e2e/e2e_lib.sh"
command -v haproxy >/dev/null || fail "haproxy is not installed (scripts/deps.sh)"
if [ -z "$database" ]; then
  command -v sqlite3 >/dev/null || fail "sqlite3 is not installed (scripts/deps.sh)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-haproxy.XXXXXX") || exit 1
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  wait 2>/dev/null
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

data=$work/data
db_args=()
if [ -n "$database" ]; then
  schema=haproxy_$$
  timeout 30 "$psql_bin" -q -v ON_ERROR_STOP=1 "$database" \
    -c "DROP SCHEMA IF EXISTS $schema CASCADE; CREATE SCHEMA $schema" || fail "no schema"
  case $database in
    *\?*) database="$database&options=-csearch_path%3D$schema" ;;
    *) database="$database?options=-csearch_path%3D$schema" ;;
  esac
  db_args=(--database "$database")
fi
printf 'p@ss\n' | timeout 60 "$server_bin" --data-dir "$data" "${db_args[@]}" \
  add-user carol@example.test >/dev/null || fail "add-user"
# dave signs in only in step 4: an account that signed in from an address
# lately is not held up by strangers' failures there.
printf 'p@ss\n' | timeout 60 "$server_bin" --data-dir "$data" "${db_args[@]}" \
  add-user dave@example.test >/dev/null || fail "add-user"

# start_service NAME [PORT]: one process on loopback (a free port unless
# given); sets port_NAME and pid_NAME.
start_service() {
  local log=$work/$1.log
  [ -e "$log" ] && log=$work/$1-again.log
  "$server_bin" --data-dir "$data" "${db_args[@]}" --listen "127.0.0.1:${2:-0}" \
    --trusted-proxy 127.0.0.1 \
    --request-log "$work/$1.requests" >"$log" 2>&1 &
  pids+=($!)
  eval "pid_$1=$!"
  wait_for 30 grep -q 'Listening on 127.0.0.1:' "$log" || fail "service $1 did not start"
  eval "port_$1=$(grep -m1 -o 'Listening on 127.0.0.1:[0-9]*' "$log" | sed 's/.*://')"
}
start_service a
start_service b

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
hp=$(free_port)
cert=$data/cert.pem
cat "$data/cert.pem" "$data/key.pem" >"$work/haproxy.pem"
cat >"$work/haproxy.cfg" <<CFG
global
  maxconn 200
defaults
  mode http
  timeout connect 5s
  timeout client 60s
  timeout server 60s
  option forwardfor
  retries 2
  option redispatch
frontend docs
  bind 127.0.0.1:$hp ssl crt $work/haproxy.pem
  default_backend services
backend services
  balance roundrobin
  http-response set-header X-Served-By %s
  server a 127.0.0.1:$port_a ssl verify required ca-file $cert verifyhost localhost sni str(localhost) check inter 300ms fall 1 rise 2
  server b 127.0.0.1:$port_b ssl verify required ca-file $cert verifyhost localhost sni str(localhost) check inter 300ms fall 1 rise 2
CFG
haproxy -c -f "$work/haproxy.cfg" >/dev/null 2>&1 || fail "haproxy refused its configuration"
haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
pids+=($!)
base=https://localhost:$hp
wait_for 20 curl -sf --max-time 5 --cacert "$cert" "$base/accounts/ServiceLogin" ||
  fail "haproxy does not answer"

# request ARGS...: curl through haproxy; the body on stdout, the answering
# process in $work/served.
request() {
  curl -s --max-time 60 --cacert "$cert" -D "$work/headers" "$@"
  tr -d '\r' <"$work/headers" | sed -n 's/^[Xx]-[Ss]erved-[Bb]y: //p' | tail -n 1 >"$work/served"
}
served() { cat "$work/served"; }
login_body() { printf 'accountType=HOSTED_OR_GOOGLE&Email=%s&Passwd=%s&service=writely%s' "$@"; }

# 1. A token from one process works on the other.
reply=$(request -d "$(login_body carol%40example.test p%40ss '')" "$base/accounts/ClientLogin")
token=$(printf '%s\n' "$reply" | sed -n 's/^Auth=//p')
[ -n "$token" ] || fail "no token: $reply"
signed_in_by=$(served)
request -o /dev/null -w '%{http_code}' -H 'GData-Version: 3.0' \
  -H "Authorization: GoogleLogin auth=$token" "$base/feeds/default/private/full" >"$work/code"
[ "$(cat "$work/code")" = 200 ] || fail "the list through the other process: $(cat "$work/code")"
[ "$(served)" != "$signed_in_by" ] || fail "both requests went to $signed_in_by"

# The real client from here on, signed in through haproxy.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/xdgdata
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Tallowdesk" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
bash "$(dirname "$0")/../../scripts/write-local-config.sh" \
  "$XDG_CONFIG_HOME/Tallowdesk/Config.xml" "$hp" "$cert"
cli() { timeout 120 "$cli_bin" "$@"; }
echo 'p@ss' | cli login carol@example.test --remember >"$work/cli.log" 2>&1 ||
  fail "tallowdesk-cli login: $(cat "$work/cli.log")"

# 2. Small files: every upload is a session request and a form, which the
# balancer sends to different processes.
mkdir -p "$work/up" "$work/down"
for i in 1 2 3 4; do head -c $((i * 70000)) /dev/urandom >"$work/up/small$i.bin"; done
cli put "$work"/up/small*.bin --quiet >>"$work/cli.log" 2>&1 || fail "put: $(cat "$work/cli.log")"
# The same by hand, so that the processes are known: the browser sign-in
# form from one process, sent to the other; the session opened through one,
# the file sent through the other.
jar=$work/cookies
# other_than NAME: sends cheap requests until the next one goes elsewhere.
other_than() {
  [ "$(served)" = "$1" ] || return 0
  request -o /dev/null "$base/web/style.css"
  [ "$(served)" = "$1" ] || request -o /dev/null "$base/web/style.css"
}
form=$(request -c "$jar" -b "$jar" "$base/accounts/ServiceLogin")
galx=$(printf '%s' "$form" | grep -o "name='GALX' value='[^']*'" | sed "s/.*value='//; s/'$//")
[ -n "$galx" ] || fail "no sign-in form"
other_than "$(served)"
request -o /dev/null -c "$jar" -b "$jar" --data-urlencode "GALX=$galx" \
  --data-urlencode "continue=$base/" -d 'service=writely&Email=carol%40example.test&Passwd=p%40ss' \
  "$base/accounts/ServiceLoginAuth"
grep -q 'HSID' "$jar" || fail "the sign-in form of one process was refused by the other"
session=$(request -b "$jar" -H 'Content-Type: application/x-www-form-urlencoded' \
  -d '{"createSessionRequest":{"fields":[{"external":{"name":"file","filename":"across.bin","size":5000}}]}}' \
  "$base/upload/resumableupload?authuser=0&user=carol%40example.test")
upload_id=$(printf '%s' "$session" | grep -o '"upload_id":"[^"]*"' | sed 's/.*:"//; s/"$//')
[ -n "$upload_id" ] || fail "no upload session: $session"
opened_by=$(served)
head -c 5000 /dev/urandom >"$work/up/across.bin"
other_than "$opened_by"
done_reply=$(request -b "$jar" -F "Filedata=@$work/up/across.bin;type=application/octet-stream" \
  "$base/upload/resumableupload?upload_id=$upload_id")
printf '%s' "$done_reply" | grep -q FINALIZED || fail "the session from $opened_by: $done_reply"
[ "$(served)" != "$opened_by" ] || fail "the session was finished where it was opened"

# 3. A large upload; the process that receives it is killed while it does.
head -c $((120 * 1024 * 1024)) /dev/urandom >"$work/up/large.bin"
receiving() {
  for name in a b; do
    eval "pid=\$pid_$name"
    if ls -l "/proc/$pid/fd" 2>/dev/null | grep -q '\.upload-'; then
      echo "$name"
      return 0
    fi
  done
  return 1
}
cli put "$work/up/large.bin" --quiet >"$work/put-large.log" 2>&1 &
put_pid=$!
wait_for 60 receiving || fail "the large upload never reached a process"
victim=$(receiving)
eval "kill -9 \$pid_$victim"
wait "$put_pid" && fail "the upload cut off by the kill was reported as done"
# The client's retry: the same put again, answered by the survivor once
# haproxy has seen the killed process go.
wait_for 20 grep -q "Server services/$victim is DOWN" "$work/haproxy.log" ||
  fail "haproxy did not notice the killed process"
cli put "$work/up/large.bin" --quiet >>"$work/put-large.log" 2>&1 ||
  fail "the retried upload: $(cat "$work/put-large.log")"

# Everything acknowledged is there, byte for byte; the cut-off upload left
# at most nothing of its own (only one large.bin is listed).
cli ls / --json >"$work/ls.json" || fail "ls"
[ "$(grep -o '"large.bin"' "$work/ls.json" | wc -l)" = 1 ] || fail "large.bin is listed $(grep -o '"large.bin"' "$work/ls.json" | wc -l) times"
cli get small1.bin small2.bin small3.bin small4.bin across.bin large.bin --to "$work/down" --quiet \
  >>"$work/cli.log" 2>&1 || fail "get: $(cat "$work/cli.log")"
(cd "$work/up" && sha256sum ./*.bin) >"$work/up.sums"
(cd "$work/down" && sha256sum -c "$work/up.sums" --quiet) || fail "a file came back different"

# The killed process starts again on its port; its clean-up at start must
# leave the survivor alone, and haproxy takes it back.
eval "start_service $victim \$port_$victim"
wait_for 20 grep -q "Server services/$victim is UP" "$work/haproxy.log" ||
  fail "haproxy did not take the restarted process back"

# 4. Failed sign-ins from one address through both processes, then the
# right password for dave needs the picture; its challenge is solved
# through whichever process the next request reaches.
for i in $(seq 1 20); do
  request -o /dev/null -d "$(login_body "nobody$i%40example.test" x '')" "$base/accounts/ClientLogin"
done
reply=$(request -d "$(login_body dave%40example.test p%40ss '')" "$base/accounts/ClientLogin")
printf '%s\n' "$reply" | grep -q '^Error=CaptchaRequired$' ||
  fail "twenty failures over two processes did not make the CAPTCHA due: $reply"
ctoken=$(printf '%s\n' "$reply" | sed -n 's/^CaptchaToken=//p')
asked_by=$(served)
request -o /dev/null "$base/accounts/ServiceLogin"  # the next request goes to the other one
[ "$(served)" = "$asked_by" ] || request -o /dev/null "$base/accounts/ServiceLogin"
if [ -n "$database" ]; then
  answer=$(timeout 30 "$psql_bin" -tA "$database" -c "SELECT split_part(convert_from(value, 'UTF8'), chr(10), 1) FROM shared_state WHERE kind = 'captcha' AND key = '$ctoken'")
else
  answer=$(sqlite3 "file:$data/service.db?mode=ro" \
    "SELECT substr(value, 1, instr(value, char(10)) - 1) FROM shared_state WHERE kind = 'captcha' AND key = '$ctoken'")
fi
[ -n "$answer" ] || fail "the challenge is not in the database"
enc_token=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$ctoken")
reply=$(request -d "$(login_body dave%40example.test p%40ss "&logintoken=$enc_token&logincaptcha=$answer")" \
  "$base/accounts/ClientLogin")
printf '%s\n' "$reply" | grep -q '^Auth=' || fail "the solved challenge was refused: $reply"
[ "$(served)" != "$asked_by" ] || fail "the challenge was solved through the process that made it"
if [ -n "$database" ]; then
  timeout 30 "$psql_bin" -q "$base_database" -c "DROP SCHEMA $schema CASCADE" >/dev/null 2>&1 || true
fi
echo PASSED
