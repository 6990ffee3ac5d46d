#!/usr/bin/env bash
# Runs the README's commands for a household as they are written: the
# service started as the system-wide unit starts it, with the options the
# README puts in /etc/default/tallowdesk-server, an account made with
# add-user, then a computer of the household fetching the certificate,
# writing its Config.xml and signing in with the real client. The service
# listens on a network address, not loopback, so the test runs in a network
# namespace of its own (unshare; nothing outside it can reach the address)
# where the address sits on its loopback device and nas.home.arpa names it.
# Also: plain http there is sent to https and acted on nowhere, the sign-up
# page is closed.
# Usage: readme_household_commands.sh README UNIT_TEMPLATE SERVER_BIN CLI_BIN
set -u
readme=$1
unit=$2
server_bin=$3
cli_bin=$4
nas=192.0.2.10 # a documentation address: never anybody's

if [ -z "${TALLOWDESK_IN_NAMESPACE:-}" ]; then
  if ! unshare -rmn true 2>/dev/null; then
    echo "SKIPPED: no user and network namespaces here (unshare -rmn)"
    exit 77
  fi
  TALLOWDESK_IN_NAMESPACE=1 exec unshare -rmn bash "$0" "$@"
fi

fail() {
  echo "FAILED: $*" >&2
  [ -f "$work/service.log" ] && { echo "--- service" >&2; tail -n 20 "$work/service.log" >&2; }
  exit 1
}
# shellcheck source=../e2e/e2e_lib.sh
. "$(dirname "$0")/../e2e/e2e_lib.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/tallowdesk-household.XXXXXX") || exit 1
service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill -9 "$service_pid" 2>/dev/null
  wait 2>/dev/null
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

ip link set lo up && ip addr add "$nas/32" dev lo || fail "no address in the namespace"
{
  cat /etc/hosts
  echo "$nas nas.home.arpa"
} >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts || fail "cannot name the address"

# The section's blocks of commands, one file each.
awk -v dir="$work" '/^### A service for a household/ { on = 1; next }
     on && /^### / { exit }
     on && /^    / { if (!inblock) n++; inblock = 1; print substr($0, 5) > (dir "/block" n ".sh"); next }
     on && !/^$/ { inblock = 0 }' "$readme"
[ -s "$work/block1.sh" ] && [ -s "$work/block2.sh" ] || fail "no commands under the household heading"

# The options the first block writes to /etc/default/tallowdesk-server.
options=$(sed -n "s/^echo 'TALLOWDESK_SERVER_OPTIONS=\"\(.*\)\"' |\$/\1/p" "$work/block1.sh")
[ -n "$options" ] || fail "the household commands set no service options"
grep -q 'add-user' "$work/block1.sh" || fail "the household commands make no account"
data=$work/var-lib-tallowdesk
# The unit's command, as systemd runs it (the options split at blanks).
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
exec_start=${exec_start//@TALLOWDESK_SERVER_PATH@/$server_bin}
exec_start=${exec_start//\/var\/lib\/tallowdesk/$data}
exec_start=${exec_start//\$TALLOWDESK_SERVER_OPTIONS/$options}
read -r -a command <<<"$exec_start"
"${command[@]}" >"$work/service.log" 2>&1 &
service_pid=$!
wait_for 30 grep -q '^Listening on' "$work/service.log" || fail "the service did not start"
# The add-user line, run as the service's account would.
add_user=$(grep 'add-user' "$work/block1.sh" | sed -e 's/sudo -u tallowdesk //' \
  -e "s|/var/lib/tallowdesk|$data|g" -e "s|tallowdesk-server|$server_bin|")
password=$(printf '%s\n' "$add_user" | sed -n "s/^echo '\([^']*\)' |.*/\1/p")
email=$(printf '%s\n' "$add_user" | sed -n 's/.* add-user \([^ ]*\)$/\1/p')
[ -n "$password" ] && [ -n "$email" ] || fail "cannot read the add-user line: $add_user"
eval "$add_user" >>"$work/service.log" 2>&1 || fail "add-user"

# A computer of the household: the second block, as its user runs it.
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_DATA_HOME
mkdir -p "$HOME"
PATH=$(cd "$(dirname "$cli_bin")" && pwd):$PATH
(cd "$HOME" && printf '%s\n' "$password" | timeout 120 bash -e "$work/block2.sh") >"$work/client.log" 2>&1 ||
  fail "the computer's commands: $(cat "$work/client.log")"
grep -q "Fingerprint=$(openssl x509 -in "$data/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//')" \
  "$work/client.log" || fail "the fingerprint shown is not the service's"
cli() { timeout 60 "$cli_bin" "$@"; }
head -c 200000 /dev/urandom >"$work/photo.bin"
cli put "$work/photo.bin" --quiet >>"$work/client.log" 2>&1 || fail "put: $(cat "$work/client.log")"
mkdir -p "$work/down"
cli get photo.bin --to "$work/down" --quiet >>"$work/client.log" 2>&1 || fail "get: $(cat "$work/client.log")"
cmp -s "$work/photo.bin" "$work/down/photo.bin" || fail "the file came back different"

# Plain http on the network address: sent to https, the form not acted on.
ca=$HOME/.config/Tallowdesk/nas-cert.pem
for path in / /accounts/ServiceLogin; do
  reply=$(curl -s -o /dev/null -w '%{http_code} %{redirect_url}' --max-time 10 "http://nas.home.arpa:8443$path")
  [ "$reply" = "308 https://nas.home.arpa:8443$path" ] || fail "plain http of $path: $reply"
done
code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 \
  --data-urlencode "Email=$email" --data-urlencode "Passwd=$password" -d service=writely \
  "http://nas.home.arpa:8443/accounts/ClientLogin")
[ "$code" = 308 ] || fail "a sign-in over plain http got $code"
code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 --cacert "$ca" \
  "https://nas.home.arpa:8443/accounts/NewAccount")
[ "$code" = 403 ] || fail "the sign-up page answered $code with --open-sign-up no"
echo PASSED
