#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine (run as root):
# compilers and libraries from Debian, Qt with an X server (Xvfb) for the application's windows,
# Chromium for the browser tests, the pinned page libraries.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q \
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev \
  libicu-dev libboost-json1.81-dev libplist-dev libseccomp-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  chromium fonts-liberation fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji \
  python3 hyperfine jupyter-nbconvert python3-nbformat time locales \
  shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl \
  qt6-base-dev qt6-qpa-plugins qt6-webengine-dev libqt6dbus6 libsodium-dev libarchive-dev \
  xvfb xauth xdotool x11-utils imagemagick dbus dbus-x11 fontconfig
# The Turkish locale, under which the tests check that names and extensions are matched
# without regard to the process's locale.
$SUDO localedef -i tr_TR -f UTF-8 tr_TR.UTF-8
# The machine image ships Node.js 20 with npm; Debian's own nodejs/npm only when it is missing.
if ! command -v npm >/dev/null; then
  $SUDO apt-get install -y -q nodejs npm
fi

(cd web && npm ci --no-audit --no-fund)
