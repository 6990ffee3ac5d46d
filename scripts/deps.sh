#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: when
# everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ clang libclang-rt-14-dev pkg-config python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev libtinyxml2-dev libsqlite3-dev nlohmann-json3-dev libboost-dev
  # the PostgreSQL store (libpq) and the private cluster its tests start
  libpq-dev postgresql-15 util-linux
  qt6-base-dev qt6-base-dev-tools libxcb1-dev xvfb xauth curl xdotool imagemagick xclip xdg-utils
  # the load balancer in front of two service processes, and a look into their database
  haproxy sqlite3
  # a network address of its own for the household test (ip, in a namespace by unshare)
  iproute2
  # the file managers and window manager the window is tried beside
  thunar pcmanfm openbox dbus-x11
  # the stacking and owner of the windows as the window manager has them (xprop)
  x11-utils
  # translations: lupdate/lrelease (qt6-l10n-tools), their CMake package (qt6-tools-dev)
  qt6-l10n-tools qt6-tools-dev
  # the browser test of the service's web pages
  chromium fonts-dejavu-core
  # the keyring (Secret Service) and its tests on a private session bus
  libsecret-1-dev libsecret-tools gnome-keyring dbus libglib2.0-bin
  # the accessibility test: the AT-SPI bus and its Python client
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0
  # the installed tree and the Debian package (scripts/package-check.sh)
  desktop-file-utils appstream lintian dpkg-dev file man-db systemd
  # the release signing commands of updater/README.md, which the updater tests run
  openssl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
