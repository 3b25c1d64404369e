#!/usr/bin/env bash
# Runs a command as root in a Debian chroot made by debootstrap:
#   scripts/chroot-run.sh ROOT [--net] [--bind DIR]... COMMAND [ARGS...]
# The chroot lives in mount and network namespaces of its own: /proc, /sys, /dev and /dev/pts
# are bound in, /dev/shm, /tmp and /run/user are fresh, each DIR is bound at the same path inside,
# and all of it goes away with the command however it ends (the kernel drops a namespace's
# mounts with its last process), so nothing is left mounted for a later `rm -rf ROOT`.
# Without --net the command sees only its own loopback: X servers' abstract sockets and loopback
# ports are per network namespace, so displays and ports picked inside never collide with the
# machine's or another chroot's. --net shares the machine's network (apt-get needs the mirror).
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: chroot-run.sh ROOT [--net] [--bind DIR]... COMMAND..." >&2; exit 64; }
root=$(cd "$1" && pwd)
shift

if [ -z "${TAVISK_CHROOT_NAMESPACED:-}" ]; then
    namespaces=(--mount --propagation private --fork --kill-child)
    [ "${1:-}" = "--net" ] || namespaces+=(--net)
    exec env TAVISK_CHROOT_NAMESPACED=1 unshare "${namespaces[@]}" "$0" "$root" "$@"
fi
unset TAVISK_CHROOT_NAMESPACED

if [ "${1:-}" = "--net" ]; then
    shift
    cp /etc/resolv.conf "$root/etc/resolv.conf"
else
    ip link set lo up
fi
mount --bind /proc "$root/proc"
mount --bind /sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
# Chromium keeps shared memory in /dev/shm; X servers want /tmp/.X11-unix made by root.
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
mkdir -m 1777 "$root/tmp/.X11-unix"
mkdir -p "$root/run/user"
mount -t tmpfs -o mode=0755 tmpfs "$root/run/user"
mkdir -m 0700 "$root/run/user/0"
while [ "${1:-}" = "--bind" ]; do
    mkdir -p "$root$2"
    mount --bind "$2" "$root$2"
    shift 2
done
exec env XDG_RUNTIME_DIR=/run/user/0 chroot "$root" "$@"
