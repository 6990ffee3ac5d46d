#!/usr/bin/env bash
# Regenerates the pictures of the quick-start guide (resources/web/guide/)
# from the screenshots the end-to-end window test takes, so the guide shows
# the real window. The pictures are reduced to a small palette to keep them
# small in git; the service builds them into the program.
#
# Usage: scripts/update-guide-screenshots.sh [--from SHOTS_DIR] [BUILD_DIR]
#   Without --from, runs the end-to-end test in BUILD_DIR (default build/dev,
#   configured with the window) and takes its screenshots.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
shots=
if [ "${1:-}" = "--from" ]; then
  shots=$2
  shift 2
fi
build=${1:-$root/build/dev}

if [ -z "$shots" ]; then
  ctest --test-dir "$build" -R '^e2e_window_under_xvfb$' --timeout 300 --output-on-failure
  shots=$build/e2e-screenshots
fi
command -v convert >/dev/null || {
  echo "ImageMagick's convert is missing (Debian package imagemagick)" >&2
  exit 1
}

dest=$root/resources/web/guide
mkdir -p "$dest"
# Screenshot of the test -> picture of the guide.
for pair in e2e-signin:signin e2e-main:main e2e-folder:folder; do
  from=$shots/${pair%%:*}.png
  to=$dest/${pair##*:}.png
  [ -s "$from" ] || {
    echo "missing $from" >&2
    exit 1
  }
  convert "$from" -strip -resize '960x>' -colors 128 "PNG8:$to"
  echo "$to ($(stat -c %s "$to") bytes)"
done
