#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for a bounded time, each seeded
# with its corpus from fuzz/corpus/<target>. New inputs go to a working corpus
# under build/fuzz, crash inputs to build/fuzz/crashes, never into the tree.
# Fails when a target listed by the build is missing, or when one crashes
# (its output, with the stack, is printed). Usage: scripts/fuzz.sh [seconds-per-target]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
build=build/fuzz
list=$build/fuzz/fuzzers.txt

if [ ! -f "$list" ]; then
  echo "fuzz: $list is missing; configure and build the fuzz preset first" >&2
  exit 1
fi
mkdir -p "$build/crashes" "$build/corpus"
status=0
while read -r name; do
  [ -n "$name" ] || continue
  target=$build/fuzz/$name
  if [ ! -x "$target" ]; then
    echo "fuzz: $name was not built" >&2
    status=1
    continue
  fi
  seeds=fuzz/corpus/$name
  if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then
    echo "fuzz: $name has no seed corpus in $seeds" >&2
    status=1
    continue
  fi
  work=$build/corpus/$name
  mkdir -p "$work"
  log=$build/$name.log
  "$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/crashes/$name-" "$work" "$seeds" >"$log" 2>&1
  rc=$?
  # Status lines: "#runs INITED cov: N ..." after the seeds, "#runs DONE cov: N ..." at the end.
  first=$(grep -oE 'INITED cov: [0-9]+' "$log" | head -n 1 | grep -oE '[0-9]+$')
  final=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  if [ "$rc" -ne 0 ]; then
    echo "fuzz: $name FAILED (exit $rc); crash input in $build/crashes/"
    cat "$log"
    status=1
  else
    echo "fuzz: $name ${seconds}s, coverage from the seeds ${first:-?}: ${final:-no status line}"
  fi
done <"$list"
exit "$status"
