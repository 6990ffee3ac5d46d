#!/usr/bin/env bash
# Builds and runs every test: the warnings-as-errors build, the same suite
# under AddressSanitizer + UBSan, and a bounded libFuzzer run of the parsers.
# Every test runs with its own temporary HOME and XDG folders (see
# tests/CMakeLists.txt) and under a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc)
# Rebuilds from another checkout of the same sources reuse earlier compiles.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

status=0

echo "== build (dev)"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
echo "== test (dev)"
ctest --preset dev -j "$jobs" || status=1
echo "== package check"
bash scripts/package-check.sh build/dev || status=1

echo "== build (asan)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
echo "== test (asan)"
# The peak-memory tests (named ...MemoryFlat) would measure the sanitizer's
# own allocator and quarantine, not the program: they run in the dev build.
ctest --preset asan -j "$jobs" -LE "nosan|e2e" -E "MemoryFlat" || status=1

# The fuzz targets are part of the test: without clang, or when a target does
# not build, the run fails.
echo "== fuzz (${TALLOWDESK_FUZZ_SECONDS:-15} s per target)"
if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing (scripts/deps.sh installs it)" >&2
  status=1
elif cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$jobs"; then
  bash scripts/fuzz.sh "${TALLOWDESK_FUZZ_SECONDS:-15}" || status=1
else
  status=1
fi

exit "$status"
