#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the helper need.
# Runs apt-get only when something is missing; uses sudo when not root.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-webengine-dev libgl-dev
    xvfb xauth xdotool x11-utils
    python3 python3-xlib python3-websocket
    openssl libnss3-tools
    libgtest-dev clang libclang-rt-14-dev
    time procps
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
