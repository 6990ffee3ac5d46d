#!/usr/bin/env bash
# shellcheck disable=SC2015  # "ok" only prints, so "check && ok || fail" cannot run both
# CI step for the installed program and the Debian package:
#   1. `cmake --install` into a staging folder (prefix /usr);
#   2. checks of the installed tree: the programs, the desktop file
#      (desktop-file-validate), the AppStream metainfo (appstreamcli, offline),
#      the icons at each size, the manual pages, the bash completion and the
#      systemd user unit;
#   3. `cpack -G DEB`, lintian on the package (errors fail, warnings listed),
#      and the package's contents, which must all lie in the package's places;
#   4. the e2e screenshots named by the metainfo, gathered for publishing when
#      the end-to-end test has taken them.
# Usage: scripts/package-check.sh [BUILD_DIR]   (default build/dev)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/dev}
app_id=io.tallowdesk.Tallowdesk
icon_sizes=(16 22 24 32 48 64 128 256)
programs=(tallowdesk tallowdesk-cli tallowdesk-server)

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

bash scripts/deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset dev >/dev/null
fi
cmake --build "$build" -j "$(nproc)"

stage=$build/package-stage
rm -rf "$stage"
echo "== install into $stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
usr=$stage/usr

echo "== installed tree"
# The three programs always; the updater too where this build makes it.
mapfile -t built < "$build/packaging/programs.txt"
for p in "${programs[@]}"; do
  [[ " ${built[*]} " == *" $p "* ]] || fail "the build does not install $p"
done
for p in "${built[@]}"; do
  [ -x "$usr/bin/$p" ] && ok "bin/$p" || fail "bin/$p is missing or not executable"
done

desktop=$usr/share/applications/$app_id.desktop
if desktop-file-validate "$desktop"; then ok "desktop-file-validate $app_id.desktop"; else fail "desktop-file-validate"; fi
desktop_key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
exec_name=$(desktop_key Exec | cut -d' ' -f1)
[ -x "$usr/bin/$exec_name" ] && ok "Exec=$exec_name is installed" || fail "Exec=$exec_name is not in bin/"
[ "$(desktop_key Icon)" = "$app_id" ] && ok "Icon=$app_id" || fail "the desktop file names icon $(desktop_key Icon)"

metainfo=$usr/share/metainfo/$app_id.metainfo.xml
if appstreamcli validate --no-net --pedantic "$metainfo"; then ok "appstreamcli validate"; else fail "appstreamcli validate"; fi
version=$(sed -n 's/^project(Tallowdesk VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
grep -q "<release version=\"$version\"" "$metainfo" && ok "release $version in the metainfo" ||
  fail "the metainfo has no release $version"

# The width and height of a PNG are the big-endian words at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}'; }
for s in "${icon_sizes[@]}"; do
  icon=$usr/share/icons/hicolor/${s}x${s}/apps/$app_id.png
  if [ ! -f "$icon" ]; then
    fail "no ${s}x${s} icon"
  elif [ "$(png_size "$icon")" != "${s}x${s}" ]; then
    fail "the ${s}x${s} icon measures $(png_size "$icon")"
  else
    ok "icon ${s}x${s}"
  fi
done
svg=$usr/share/icons/hicolor/scalable/apps/$app_id.svg
grep -q '<svg' "$svg" 2>/dev/null && ok "scalable icon" || fail "no scalable SVG icon"

for p in "${programs[@]}"; do
  page=$usr/share/man/man1/$p.1.gz
  if [ ! -f "$page" ]; then
    fail "no manual page for $p"
    continue
  fi
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] && ok "man page $p(1)" || fail "man page $p(1): $warnings"
done

completion=$usr/share/bash-completion/completions/tallowdesk-cli
if bash -n "$completion" && grep -q 'complete -F _tallowdesk_cli tallowdesk-cli' "$completion"; then
  ok "bash completion"
else
  fail "bash completion for tallowdesk-cli"
fi

unit=$usr/lib/systemd/user/tallowdesk-server.service
if [ ! -f "$unit" ]; then
  fail "no systemd user unit"
else
  grep -qx 'ExecStart=/usr/bin/tallowdesk-server' "$unit" && ok "ExecStart in the unit" ||
    fail "the unit starts $(sed -n 's/^ExecStart=//p' "$unit")"
  # Verified against the staged program, since /usr/bin holds none.
  check_dir=$(mktemp -d)
  sed "s|^ExecStart=/usr/bin/|ExecStart=$(realpath "$usr")/bin/|" "$unit" >"$check_dir/tallowdesk-server.service"
  mkdir -m 700 "$check_dir/runtime"
  if XDG_RUNTIME_DIR=$check_dir/runtime systemd-analyze verify --user --man=no \
    "$check_dir/tallowdesk-server.service"; then
    ok "systemd-analyze verify"
  else
    fail "systemd-analyze verify"
  fi
  rm -rf "$check_dir"
fi

system_unit=$usr/lib/systemd/system/tallowdesk-server.service
if [ -f "$system_unit" ] && [ -f "$usr/lib/sysusers.d/tallowdesk.conf" ]; then
  check_dir=$(mktemp -d)
  sed "s|^ExecStart=/usr/bin/|ExecStart=$(realpath "$usr")/bin/|" "$system_unit" >"$check_dir/tallowdesk-server.service"
  if grep -qx 'User=tallowdesk' "$system_unit" &&
    systemd-analyze verify --man=no "$check_dir/tallowdesk-server.service"; then
    ok "system-wide unit"
  else
    fail "system-wide unit"
  fi
  rm -rf "$check_dir"
else
  fail "no system-wide unit or its sysusers.d entry"
fi

echo "== Debian package"
rm -f "$build"/tallowdesk_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tallowdesk_*.deb)
echo "$deb"
dpkg-deb --field "$deb"
lintian_log=$build/lintian.txt
status=0
lintian --pedantic --fail-on error "$deb" >"$lintian_log" 2>&1 || status=$?
grep -v 'running with root privileges' "$lintian_log" || true
if [ "$status" -eq 0 ]; then
  ok "lintian: $(grep -c '^E:' "$lintian_log" || true) errors, $(grep -c '^W:' "$lintian_log" || true) warnings"
else
  fail "lintian reports errors (see $lintian_log)"
fi

echo "== contents"
dpkg-deb --contents "$deb"
# Everything the package installs lies in places that belong to it.
outside=$(dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '/$' |
  grep -Ev '^\./usr/(bin/tallowdesk[a-z-]*|lib/systemd/(user|system)/tallowdesk-server\.service|lib/sysusers\.d/tallowdesk\.conf|share/(applications/|metainfo/|icons/hicolor/[^/]+/apps/|man/man1/tallowdesk|bash-completion/completions/tallowdesk-cli$|doc/tallowdesk/|lintian/overrides/tallowdesk$))' ||
  true)
[ -z "$outside" ] && ok "no files outside the package's places" || fail "files outside the package's places: $outside"

echo "== screenshots"
shots_dir=$build/e2e-screenshots
site=$build/screenshots-site
mapfile -t shots < <(grep -o 'e2e-[a-z]*\.png' "$metainfo" | sort -u)
present=0
for shot in "${shots[@]}"; do
  [ -f "$shots_dir/$shot" ] && present=$((present + 1))
done
if [ "$present" -gt 0 ]; then
  rm -rf "$site"
  mkdir -p "$site"
  for shot in "${shots[@]}"; do
    if [ -f "$shots_dir/$shot" ]; then
      cp "$shots_dir/$shot" "$site/"
    else
      fail "the metainfo names $shot, which the end-to-end test did not take"
    fi
  done
  echo "screenshots for $(sed -n 's|.*<image[^>]*>\(.*\)/e2e-.*|\1|p' "$metainfo" | head -n 1): $site"
else
  echo "the end-to-end test has not run in $build: no screenshots to gather (${shots[*]})"
fi

if [ "$failures" -ne 0 ]; then
  echo "package check: $failures failed" >&2
  exit 1
fi
echo "package check: all passed"
