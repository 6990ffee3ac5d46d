#!/bin/sh
# Runs one test with its own temporary HOME and XDG folders (removed after),
# so no test reads or changes the settings of the user running the suite.
# The runtime folder is short on purpose: Unix socket paths end at 107 bytes.
root=$(mktemp -d "/tmp/tdt.XXXXXX") || exit 1
trap 'rm -rf "$root"' EXIT HUP INT TERM
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/state" "$root/run" \
    "$root/tmp" || exit 1
chmod 700 "$root/run"
export HOME="$root/home"
export XDG_CONFIG_HOME="$root/config"
export XDG_DATA_HOME="$root/data"
export XDG_CACHE_HOME="$root/cache"
export XDG_STATE_HOME="$root/state"
export XDG_RUNTIME_DIR="$root/run"
export TMPDIR="$root/tmp"
unset XDG_CONFIG_DIRS XDG_DATA_DIRS
"$@"
status=$?
exit "$status"
