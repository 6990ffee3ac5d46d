# shellcheck shell=bash disable=SC2154
# Shared by the benchmarks that put haproxy in front of service processes
# (sourced, not run): free ports, waiting for a service, starting N
# processes on one data folder behind haproxy, stopping them, and the
# sign-in request wrk sends. The sourcing script sets server_bin, work and
# data before calling start, may set db_args (the store's arguments) and
# haproxy_maxconn, and stops everything with stop_all.

pids=()
db_args=()
login_body='accountType=HOSTED_OR_GOOGLE&Email=bench%40example.test&Passwd=p%40ss&service=writely'

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# wait_port PORT [SECONDS]: until the service there answers (default 30 s).
wait_port() {
  local end=$((SECONDS + ${2:-30}))
  until curl -sk --max-time 2 -o /dev/null "https://localhost:$1/accounts/ServiceLogin"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null; done
  pids=()
}

# start N: N service processes on $data and haproxy in front; sets ports
# (the processes') and front (haproxy's).
start() {
  ports=()
  local servers=""
  for i in $(seq 1 "$1"); do
    local port
    port=$(free_port)
    "$server_bin" --data-dir "$data" "${db_args[@]}" --listen "127.0.0.1:$port" \
      --trusted-proxy 127.0.0.1 >"$work/service$i.log" 2>&1 &
    pids+=($!)
    wait_port "$port" 60 || { echo "service $i did not start" >&2; tail -5 "$work/service$i.log" >&2; return 1; }
    ports+=("$port")
    servers+="  server s$i 127.0.0.1:$port ssl verify required ca-file $data/cert.pem verifyhost localhost sni str(localhost)
"
  done
  front=$(free_port)
  cat "$data/cert.pem" "$data/key.pem" >"$work/haproxy.pem"
  cat >"$work/haproxy.cfg" <<CFG
global
  maxconn ${haproxy_maxconn:-1024}
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

# The body wrk posts for a sign-in, in $work/signin.lua.
write_signin_lua() {
  cat >"$work/signin.lua" <<LUA
wrk.method = "POST"
wrk.body = "$login_body"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA
}
