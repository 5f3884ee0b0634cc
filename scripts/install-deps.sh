#!/bin/sh
# Installs the Debian packages Kesmark needs to build, run its demo and run its
# tests. Idempotent: packages already present are left alone, and nothing is
# fetched when everything is installed.
set -eu

PACKAGES="
  build-essential cmake ninja-build ccache pkg-config python3
  clang-format
  libgtest-dev libgmock-dev
  libsqlite3-dev sqlite3 sqlite3-tools time bc strace nettle-dev
  nlohmann-json3-dev libcli11-dev libdtl-dev
  mdbtools-dev
  clang libclang-rt-14-dev
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql libpq-dev
  qt6-base-dev qt6-svg-dev libgl-dev xvfb xauth x11-apps imagemagick xdotool
  dpkg-dev lintian desktop-file-utils man-db groff-base
  chromium
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages:$missing (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
