#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the product need. clang brings libFuzzer
# for the fuzz targets (scripts/fuzz.sh); Xvfb and openbox give the GUI tests a desktop with a
# window manager (tests/gui/on-desktop.sh) and dbus-daemon the session bus every desktop has,
# where xdotool types through the X server as a keyboard does; python3 reads the history's CSV export as a spreadsheet
# would, in its test; help2man writes the manual pages, and lintian checks the Debian package.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang-format \
  clang \
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite libqt6sql6-psql \
  libqt6opengl6-dev libgl-dev \
  libsimdjson-dev libgtest-dev libsqlite3-dev libpq-dev \
  postgresql \
  fonts-dejavu-core xauth \
  xvfb openbox x11-utils xdotool dbus-daemon python3 \
  qt6-translations-l10n \
  help2man lintian man-db dpkg-dev
