#!/usr/bin/env bash
# Installs the packages from build/packages (scripts/package.sh) into a fresh, minimal Debian 12
# made with debootstrap, the way a user would (apt-get install ./corvane-tavisk_*.deb), and runs
# one sign-in there with the installed client and helper on Qt's offscreen platform. Needs root
# and the Debian mirror; takes about a minute. Not part of scripts/test.sh: the test command must
# not depend on a mirror's state.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ "$(id -u)" -eq 0 ] || { echo "check-clean-install.sh: needs root (debootstrap, chroot)" >&2; exit 1; }
ls build/packages/corvane-tavisk_*.deb >/dev/null

command -v debootstrap >/dev/null \
    || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
target=$(mktemp -d /tmp/tavisk-clean-XXXXXX)
cleanup() {
    umount "$target/proc" 2>/dev/null || true
    # Never remove a tree with the host's /proc still mounted in it.
    if mountpoint -q "$target/proc"; then
        echo "check-clean-install.sh: $target/proc is still mounted; left $target" >&2
        return
    fi
    rm -rf "$target"
}
trap cleanup EXIT

debootstrap --variant=minbase bookworm "$target" http://deb.debian.org/debian >/dev/null
echo "deb http://deb.debian.org/debian-security bookworm-security main" \
    >>"$target/etc/apt/sources.list"
cp /etc/resolv.conf "$target/etc/resolv.conf"
mkdir -p "$target/debs"
cp build/packages/*.deb "$target/debs/"
mount -t proc proc "$target/proc"

# The engine refuses to run as root with its sandbox on: this one run in the chroot turns it off.
chroot "$target" /bin/bash -euc '
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./debs/*.deb >/dev/null
    dpkg-query -W -f="installed: \${Package} \${Version}\n" corvane-tavisk \
        libcorvane-tavisk-client1 libcorvane-tavisk-client-dev
    mkdir -p -m 700 /tmp/runtime
    url=$(XDG_RUNTIME_DIR=/tmp/runtime QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
        corvane-tavisk-client --title "Clean install" --timeout-ms 30000 \
        --redirect-uri ms-appx-web://app.example/cb \
        --url "data:text/html,<script>location.href=\"ms-appx-web://app.example/cb?code=42\"</script>" \
        2>/dev/null)
    [ "$url" = "ms-appx-web://app.example/cb?code=42" ] || { echo "sign-in gave: $url" >&2; exit 1; }
    echo "signed in with the installed packages: $url"
'
