#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build and the tests need, when missing.
# With --package, also those that scripts/package.sh needs.
# Run as root (or through sudo) on Debian 12.
set -eu
packages="cmake ninja-build g++ pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libftdi1-dev qt6-base-dev fonts-dejavu-core
  groff-base desktop-file-utils"
for arg in "$@"; do
  case $arg in
    --package) packages="$packages dpkg-dev file lintian" ;;
    *) echo "usage: $0 [--package]" >&2; exit 2 ;;
  esac
done
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
