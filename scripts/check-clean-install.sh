#!/usr/bin/env bash
# Installs the packages built for a Debian release into a fresh, minimal system of that release
# made with debootstrap, the way a user would (apt-get install ./corvane-tavisk_*.deb), and runs
# one sign-in there with the installed client and helper on Qt's offscreen platform:
#   scripts/check-clean-install.sh [RELEASE [PACKAGE_DIR]]
# RELEASE defaults to this machine's (bookworm, trixie), PACKAGE_DIR to build/packages
# (scripts/package.sh). Needs root and the Debian mirror (TAVISK_DEBIAN_MIRROR); about a minute
# or two. scripts/test.sh runs it for both releases' packages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
release=${1:-$(. /etc/os-release && echo "${VERSION_CODENAME:-}")}
packages=${2:-build/packages}
mirror=${TAVISK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${TAVISK_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
[ "$(id -u)" -eq 0 ] || { echo "check-clean-install.sh: needs root (debootstrap, chroot)" >&2; exit 1; }
ls "$packages"/corvane-tavisk_*.deb >/dev/null

target=$(mktemp -d /tmp/tavisk-clean-XXXXXX)
# scripts/chroot-run.sh mounts nothing outside its own namespace, so the tree is plain files.
trap 'rm -rf "$target"' EXIT

debootstrap --variant=minbase "$release" "$target" "$mirror" >"$target.log" 2>&1 \
    || { tail -20 "$target.log" >&2; rm -f "$target.log"; exit 1; }
rm -f "$target.log"
echo "deb $security_mirror $release-security main" >>"$target/etc/apt/sources.list"
mkdir -p "$target/debs"
cp "$packages"/*.deb "$target/debs/"

scripts/chroot-run.sh "$target" --net /bin/bash -euc '
    cd /
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./debs/*.deb >/dev/null
    dpkg-query -W -f="installed: \${Package} \${Version}\n" corvane-tavisk \
        libcorvane-tavisk-client1 libcorvane-tavisk-client-dev
'
# The engine refuses to run as root with its sandbox on: this one run in the chroot turns it off.
scripts/chroot-run.sh "$target" /bin/bash -euc '
    url=$(QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
        corvane-tavisk-client --title "Clean install" --timeout-ms 30000 \
        --redirect-uri ms-appx-web://app.example/cb \
        --url "data:text/html,<script>location.href=\"ms-appx-web://app.example/cb?code=42\"</script>" \
        2>/dev/null)
    [ "$url" = "ms-appx-web://app.example/cb?code=42" ] || { echo "sign-in gave: $url" >&2; exit 1; }
    echo "signed in on '"$release"' with the installed packages: $url"
'
