#!/usr/bin/env bash
# Shared set-up for ./run, ./test and ./bench: installs the Debian packages the
# build needs when they are missing, then configures and builds.
# Usage: scripts/setup.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev
    libqt6svg6 qt6-qpa-plugins libgl-dev fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build="$1"; shift
cmake -S . -B "$build" "$@" >/dev/null
# The build tool's lines that come on every run, work or not, are left out:
# a start with nothing to rebuild prints nothing, while compiles, links,
# warnings and errors show as they come.
quiet='Built target |Automatic MOC and UIC for target |Consolidate compiler generated dependencies|no work to do'
cmake --build "$build" --parallel "$(nproc)" 2>&1 | { grep --line-buffered -vE "$quiet" || true; }
