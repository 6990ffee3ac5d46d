#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for a bounded time, seeded with
# the sample feeds. Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp tests/data/*.xml "$corpus"/ 2>/dev/null || true
for target in build/fuzz/fuzz/*_fuzzer; do
  [ -x "$target" ] || continue
  echo "fuzzing $(basename "$target") for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=16384 -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
done
