#!/usr/bin/env bash
# Kills the local document service again and again in the middle of
# resumable uploads, converted uploads and permanent deletes (ROUNDS of each,
# 7 by default: 21 kills), restarting it each time and checking that every
# acknowledged change is there byte for byte, that the database passes
# SQLite's integrity and foreign-key checks and that the content folder
# agrees with it. Too slow for CI, which runs two rounds of each.
#
#   bench/kill_loop.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build="${1:-build/dev}"
rounds="${2:-7}"
tests="$build/tests/server/tallowdesk_server_tests"
if [[ ! -x "$tests" ]]; then
    echo "kill_loop: $tests not found; build tallowdesk_server_tests first" >&2
    exit 2
fi
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
# Own HOME and XDG folders: nothing of the person running it is touched.
HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
    TALLOWDESK_KILL_ROUNDS="$rounds" timeout 1800 "$tests" --gtest_filter='ServerKillTest.*'
echo "kill_loop: $((rounds * 3)) kills, all checks passed"
