#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine (run as root):
# compilers and libraries from Debian, Chromium for the browser tests, the pinned page libraries.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q \
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev \
  libicu-dev libboost-json1.81-dev libplist-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  chromium fonts-liberation fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji \
  python3 hyperfine jupyter-nbconvert python3-nbformat time
# The machine image ships Node.js 20 with npm; Debian's own nodejs/npm only when it is missing.
if ! command -v npm >/dev/null; then
  $SUDO apt-get install -y -q nodejs npm
fi

(cd web && npm ci --no-audit --no-fund)
