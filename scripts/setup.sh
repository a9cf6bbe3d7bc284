#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine (run as root):
# compilers and libraries from Debian, Chromium for the browser tests, the pinned page libraries.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang-format \
  libicu-dev libboost-json1.81-dev libplist-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  nodejs npm chromium fonts-liberation fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji \
  hyperfine jupyter-nbconvert python3-nbformat time

(cd web && npm ci --no-audit --no-fund)
