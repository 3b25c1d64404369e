#!/usr/bin/env bash
# Runs the test suite again on another Debian release, in a chroot of it under the build tree:
#   scripts/test-in-chroot.sh RELEASE      e.g. trixie (Debian 13, Qt 6.8) on a Debian 12 machine
#   scripts/test-in-chroot.sh RELEASE prepare   only what needs the mirror: the chroot, its
#                                               packages, the copy of the tree and the cross
#                                               builds' sysroots (scripts/test.sh runs this in
#                                               the background while it tests this release)
#   scripts/test-in-chroot.sh RELEASE run       only the suite, in a prepared chroot
# build-RELEASE/root  the chroot (debootstrap --variant=minbase), kept between runs; its stamp
#                     records the release, the mirror and the package list it was made for:
#                     new packages are installed into it, a dropped one has it made afresh
# build-RELEASE/src   a copy of this tree (tracked and untracked files, not the build folders),
#                     with its own build/, whose build/packages holds that release's .deb files
# The suite runs there as scripts/test.sh with TAVISK_INNER_RUN=1 (see there), in a network
# namespace of its own once apt is done. Needs root, debootstrap and the Debian mirror
# (TAVISK_DEBIAN_MIRROR, default http://deb.debian.org/debian).
set -euo pipefail
release=${1:?usage: test-in-chroot.sh RELEASE [prepare|run]}
step=${2:-all}
case "$step" in
all | prepare | run) ;;
*) echo "usage: test-in-chroot.sh RELEASE [prepare|run]" >&2; exit 64 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ "$(id -u)" -eq 0 ] || { echo "test-in-chroot.sh: needs root (debootstrap, chroot)" >&2; exit 1; }
mirror=${TAVISK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${TAVISK_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

top=$root/build-$release
target=$top/root
src=$top/src
stamp=$target/.tavisk-stamp
run() { scripts/chroot-run.sh "$target" "$@"; }
took() { printf '%s: %d s\n' "$1" $(($(date +%s) - $2)); }

# A copy with the files' own times, so that the build in it stays incremental between runs.
copy_tree() {
    local start
    start=$(date +%s)
    mkdir -p "$src"
    find "$src" -mindepth 1 -maxdepth 1 ! -name 'build*' -exec rm -rf {} +
    git ls-files -z --cached --others --exclude-standard \
        | while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done \
        | tar -cf - --null --no-recursion -T - | tar -xf - -C "$src"
    took "copy of the tree" "$start"
}

inner_env=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
           HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" XDG_RUNTIME_DIR=/run/user/0)
cross_arches=${TAVISK_CROSS_ARCHES-arm64} # as scripts/test.sh

if [ "$step" = run ]; then
    [ -e "$stamp" ] || { echo "test-in-chroot.sh: no chroot of $release yet: run 'prepare'" >&2; exit 1; }
    copy_tree
    run --bind "$src" "${inner_env[@]}" TAVISK_INNER_RUN=1 TAVISK_CROSS_ARCHES="$cross_arches" \
        bash -c 'cd "$1" && scripts/test.sh' inner "$src"
    exit 0
fi

wanted=$(printf 'release %s\nmirror %s\n' "$release" "$mirror"
         scripts/install-deps.sh --list "$release")
have=$(cat "$stamp" 2>/dev/null || true)
# The chroot is made afresh when it was never finished, is of another release or mirror, or holds
# a package the list no longer names (a test that still needs it would pass here and fail on a
# fresh machine). Only added packages are installed into the kept one.
dropped=$(comm -23 <(sort <<<"$have") <(sort <<<"$wanted"))
if [ -z "$have" ] || [ -n "$dropped" ]; then
    start=$(date +%s)
    [ -n "$have" ] && printf 'chroot made afresh: the stamp names %s\n' "$dropped"
    rm -rf "$target"
    mkdir -p "$top"
    debootstrap --variant=minbase "$release" "$target" "$mirror" >"$top/debootstrap.log" 2>&1 \
        || { tail -20 "$top/debootstrap.log" >&2; exit 1; }
    echo "deb $security_mirror $release-security main" >>"$target/etc/apt/sources.list"
    took "debootstrap $release" "$start"
fi
if [ "$have" != "$wanted" ]; then
    start=$(date +%s)
    cp scripts/install-deps.sh "$target/root/install-deps.sh"
    run --net env DEBIAN_FRONTEND=noninteractive /root/install-deps.sh >"$top/apt.log" 2>&1 \
        || { tail -30 "$top/apt.log" >&2; exit 1; }
    printf '%s\n' "$wanted" >"$stamp"
    took "packages for $release" "$start"
fi

copy_tree

# The cross builds' sysroots of that release (kept in build-RELEASE/src/build-ARCH-RELEASE, with
# their stamps) need the mirror, which the suite's network namespace does not reach.
for arch in $cross_arches; do
    start=$(date +%s)
    run --net --bind "$src" "${inner_env[@]}" \
        bash -c 'cd "$1" && scripts/cross-package.sh "$2" sysroot' sysroot "$src" "$arch"
    took "$arch sysroot for $release" "$start"
done

[ "$step" = prepare ] || "$0" "$release" run
