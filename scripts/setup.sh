#!/usr/bin/env bash
# Shared set-up for ./run, ./test, ./bench and ./package: installs the Debian
# packages the build needs when they are missing, then configures and builds.
# Usage: scripts/setup.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

k410_install \
    build-essential cmake pkg-config \
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev \
    libqt6svg6 qt6-qpa-plugins libgl-dev fonts-dejavu-core

build="$1"; shift
cmake -S . -B "$build" "$@" >/dev/null
# The build tool's lines that come on every run, work or not, are left out:
# a start with nothing to rebuild prints nothing, while compiles, links,
# warnings and errors show as they come.
quiet='Built target |Automatic MOC and UIC for target |Consolidate compiler generated dependencies|no work to do'
cmake --build "$build" --parallel "$(nproc)" 2>&1 | { grep --line-buffered -vE "$quiet" || true; }
