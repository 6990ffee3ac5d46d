#!/usr/bin/env bash
# tallowdesk-cli with the keyring option on (run through with_keyring.sh):
# "login --remember" puts the password in the keyring and Config.xml keeps the
# e-mail only, later commands sign in from the keyring, "logout" removes it.
# Usage: cli_keyring_test.sh SERVER CLI WRITE_CONFIG_SCRIPT
set -uo pipefail
server=$1 cli=$2 write_config=$3
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
data=$HOME/server
"$server" --data-dir "$data" --port 0 >"$HOME/server.log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null' EXIT
for _ in $(seq 150); do
  port=$(sed -n 's|.*listening on https://localhost:\([0-9]*\).*|\1|p' "$HOME/server.log")
  [ -n "$port" ] && break
  sleep 0.2
done
[ -n "$port" ] || fail "the service did not start: $(cat "$HOME/server.log")"
echo 'kettle-42' | "$server" --data-dir "$data" add-user alice@home.test >/dev/null || fail "add-user"

config=$XDG_CONFIG_HOME/Tallowdesk/Config.xml
bash "$write_config" "$config" "$port" "$data/cert.pem"
sed -i 's|</configure>|    <passwordinkeyring>true</passwordinkeyring>\n</configure>|' "$config"

echo 'kettle-42' | "$cli" login alice@home.test --remember || fail "login --remember"
grep -q '<email>alice@home.test</email>' "$config" || fail "Config.xml lost the e-mail"
grep -Eq '<password ?/>|<password></password>' "$config" || fail "Config.xml holds a password: $(grep password "$config")"
[ "$(secret-tool lookup account alice@home.test)" = kettle-42 ] || fail "the keyring does not hold the password"
"$cli" ls / >/dev/null || fail "ls did not sign in from the keyring"
"$cli" logout >/dev/null || fail "logout"
secret-tool lookup account alice@home.test >/dev/null && fail "logout left the password in the keyring"
"$cli" ls / >/dev/null 2>&1
[ $? -eq 3 ] || fail "ls after logout did not exit with 3"
echo PASSED
