#!/usr/bin/env bash
# Debian packages for another architecture (arm64, or armhf), cross-built on this machine for its
# own release, and checked under emulation, all in build-ARCH-RELEASE/ (RELEASE is this
# machine's: bookworm or trixie):
#   scripts/cross-package.sh ARCH sysroot   make the sysroot, or keep it when its stamp is current
#                                           (the only step that needs the Debian mirror)
#   scripts/cross-package.sh ARCH package   cross-build the tree and make packages/*.deb
#   scripts/cross-package.sh ARCH check     unpack them into the sysroot, resolve their
#                                           dependencies with its apt, sign in with them and run
#                                           the library's example under qemu
#   scripts/cross-package.sh ARCH           all three, with each step's time
# build-ARCH-RELEASE/sysroot   Debian's Qt WebEngine of that architecture, runtime and development
#                              files, from mmdebstrap --variant=extract (no foreign code runs to
#                              make it), with a dpkg database written from its packages, and qemu
#                              with the emulated-exec copies under /.tavisk-emu
# build-ARCH-RELEASE/build     the cross build (cmake/toolchains/debian-cross.cmake, no tests)
# build-ARCH-RELEASE/packages  the three .deb files
# Neither this machine's dpkg and apt state nor the kernel's binfmt handlers are touched: qemu is
# unpacked from its .deb, never installed, and started by name. Needs root (mmdebstrap's root
# mode, chroot, namespaces), mmdebstrap and crossbuild-essential-ARCH (scripts/install-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ "$(id -u)" -eq 0 ] || { echo "cross-package.sh: needs root (mmdebstrap, chroot)" >&2; exit 1; }

arch=${1:?usage: cross-package.sh arm64|armhf [sysroot|package|check]}
step=${2:-all}
case "$arch" in
# What the demo page says its renderer runs on (the engine asks the system, which qemu answers
# as the target would): navigator.platform on Qt 6.4, the client hints' processor on Qt 6.8,
# whose navigator.platform is "Linux x86_64" on every machine.
arm64) triplet=aarch64-linux-gnu qemu_name=qemu-aarch64 platform="Linux aarch64|.*, arm 64-bit" ;;
armhf) triplet=arm-linux-gnueabihf qemu_name=qemu-arm platform="Linux armv[78]l|.*, arm 32-bit" ;;
*) echo "cross-package.sh: arm64 or armhf, not '$arch'" >&2; exit 64 ;;
esac
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=${TAVISK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${TAVISK_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
top=$root/build-$arch-$release
sysroot=$top/sysroot
stamp=$sysroot/.tavisk-stamp
emu=/.tavisk-emu
jobs=$(nproc 2>/dev/null || echo 2)
took() { printf '%s: %d s\n' "$1" $(($(date +%s) - $2)); }

# What the cross build links against and what the sign-in runs with: Debian's Qt
# WebEngine with its development files, the helper's other libraries, the compiler's C and C++
# libraries of the cross compiler's version, and the files the packages depend on.
sysroot_packages() {
    local gcc_version
    gcc_version=$("$triplet-gcc" -dumpversion)
    printf '%s\n' libc6-dev "libstdc++-${gcc_version%%.*}-dev" \
        qt6-base-dev qt6-base-private-dev qt6-webengine-dev qt6-tools-dev \
        libpsl-dev libnss3-dev libxcb1-dev libwayland-dev wayland-protocols nlohmann-json3-dev \
        libgl-dev qt6-qpa-plugins qt6-translations-l10n publicsuffix fonts-dejavu-core
}

# qemu-user-static's static qemu, unpacked from its .deb (installing it could register binfmt
# handlers), and a copy of emulated-exec for each program that a program under emulation starts.
add_emulation() {
    local unpacked
    unpacked=$(mktemp -d)
    # Debian 13's qemu (10.0) ships its static binaries in qemu-user, plainly named.
    local package=qemu-user-static binary=usr/bin/$qemu_name-static
    if [ "$release" != bookworm ]; then package=qemu-user; binary=usr/bin/$qemu_name; fi
    (cd "$unpacked" && { apt-get download -qq "$package" 2>/dev/null \
        || { apt-get update -qq && apt-get download -qq "$package"; }; })
    dpkg-deb -x "$unpacked"/*.deb "$unpacked/root"
    # Inside the sysroot no library of this machine is there to load.
    file -L "$unpacked/root/$binary" | grep -Eq 'statically linked|static-pie linked' \
        || { echo "cross-package.sh: $package's $binary is not static" >&2; exit 1; }
    rm -rf "${sysroot:?}$emu"
    install -D -m 0755 "$unpacked/root/$binary" "$sysroot$emu/qemu"
    rm -rf "$unpacked"
    cc -static -O2 -o "$top/emulated-exec" scripts/cross/emulated-exec.c
    for program in usr/bin/corvane-tavisk usr/lib/qt6/libexec/QtWebEngineProcess; do
        install -D -m 0755 "$top/emulated-exec" "$sysroot$emu/$program"
    done
}

make_sysroot() {
    local wanted have start
    wanted=$(printf 'release %s\nmirror %s\n' "$release" "$mirror"; sysroot_packages
             cat scripts/cross/emulated-exec.c)
    have=$(cat "$stamp" 2>/dev/null || true)
    if [ "$have" = "$wanted" ]; then
        echo "$arch sysroot: kept ($sysroot)"
        return
    fi
    start=$(date +%s)
    rm -rf "$sysroot"
    mkdir -p "$top"
    mmdebstrap --mode=root --variant=extract --architectures="$arch" \
        --skip=cleanup/apt/lists --skip=cleanup/apt/cache \
        --include="$(sysroot_packages | paste -sd,)" "$release" "$sysroot" \
        "deb $mirror $release main" "deb $security_mirror $release-security main" \
        >"$top/mmdebstrap.log" 2>&1 || { tail -20 "$top/mmdebstrap.log" >&2; exit 1; }
    took "mmdebstrap $release $arch" "$start"
    start=$(date +%s)
    # mmdebstrap's extract variant unpacked the packages without dpkg: their dpkg database.
    python3 scripts/cross/register-packages.py "$sysroot" "$arch" "$triplet" "$top/shlibdeps-admin"
    rm -f "$sysroot"/var/cache/apt/archives/*.deb
    # Debian 13's packages keep everything under /usr and leave /bin, /lib and /sbin to the
    # merged-/usr links, which the extract variant does not make; programs name their loader
    # under /lib.
    for dir in bin lib sbin; do
        [ -e "$sysroot/$dir" ] || ln -s "usr/$dir" "$sysroot/$dir"
    done
    # What scripts/chroot-run.sh mounts on, and a home for the engine's profile.
    mkdir -p "$sysroot"/{proc,sys,dev,tmp,run,root}
    add_emulation
    printf '%s\n' "$wanted" >"$stamp"
    took "dpkg database and qemu" "$start"
}

# Qt's tools run here and their output is compiled against the sysroot's Qt: the two must be the
# same version, to the Debian revision.
check_qt_versions() {
    local package here there
    for package in qt6-base-dev qt6-tools-dev qt6-webengine-dev; do
        here=$(dpkg-query -W -f='${Version}' "$package")
        there=$(dpkg-query --admindir="$sysroot/var/lib/dpkg" -W -f='${Version}' "$package:$arch")
        if [ "$here" != "$there" ]; then
            echo "cross-package.sh: $package is $here here but $there in the $arch sysroot;" \
                "update this machine (apt-get upgrade) or remove $sysroot to make it again" >&2
            exit 1
        fi
    done
}

cross_package() {
    local start
    [ -e "$stamp" ] || { echo "cross-package.sh: no sysroot yet: run 'cross-package.sh sysroot'" >&2; exit 1; }
    check_qt_versions
    start=$(date +%s)
    # The toolchain is read on the first configure only (CMake warns of it as unused after).
    local toolchain=()
    [ -e "$top/build/CMakeCache.txt" ] || toolchain=(--toolchain cmake/toolchains/debian-cross.cmake)
    cmake -S . -B "$top/build" -G Ninja "${toolchain[@]}" \
        -DTAVISK_CROSS_ARCH="$arch" -DCMAKE_SYSROOT="$sysroot" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$top/build" -j "$jobs"
    took "cross build" "$start"
    start=$(date +%s)
    rm -rf "$top/packages"
    (cd "$top/build" && PATH="$root/scripts/cross:$PATH" TAVISK_SYSROOT="$sysroot" \
        TAVISK_SHLIBDEPS_ADMINDIR="$top/shlibdeps-admin" TAVISK_CROSS_ARCH="$arch" \
        cpack -G DEB -B "$top/packages" >/dev/null)
    rm -rf "$top/packages/_CPack_Packages"
    lintian --fail-on error,warning "$top"/packages/*.deb
    for deb in "$top"/packages/*.deb; do
        printf '%s (%s bytes)\n  Depends: %s\n' "$(basename "$deb")" "$(stat -c %s "$deb")" \
            "$(dpkg-deb -f "$deb" Depends)"
    done
    took "packages and lintian" "$start"
}

# apt with the sysroot's own state: its sources, its package lists, its dpkg status.
sysroot_apt() {
    local config=$top/apt.conf
    cat >"$config" <<EOF
Dir "$sysroot/";
Dir::State::status "$sysroot/var/lib/dpkg/status";
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
EOF
    APT_CONFIG=$config apt-get "$@"
}

check_packages() {
    local start debs
    start=$(date +%s)
    debs=("$top"/packages/*.deb)
    for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$sysroot"; done
    # Installing them on this system needs nothing more than it has; on a fresh system
    # (no package installed) apt finds all they need in the archive of its architecture.
    local plan
    plan=$(sysroot_apt -s -q install "${debs[@]}")
    grep '^Inst' <<<"$plan"
    for package in corvane-tavisk libcorvane-tavisk-client1 libcorvane-tavisk-client-dev; do
        grep -q "^Inst $package .*\[$arch\])" <<<"$plan" \
            || { echo "apt would not install $package:$arch" >&2; exit 1; }
    done
    plan=$(sysroot_apt -s -q -o Dir::State::status=/dev/null install "${debs[@]}")
    printf 'a fresh %s %s system would get %d packages with them\n' "$arch" "$release" \
        "$(grep -c '^Inst' <<<"$plan")"
    took "unpacked into the sysroot, dependencies resolved by apt" "$start"
    start=$(date +%s)
    install -D -m 0755 "$top/build/clientlib/tavisk_example_signin" "$sysroot/opt/example/signin"
    # Propagation is made private inside: in a chroot (the Debian 13 run), / is no mount point
    # and unshare's own --propagation private fails, but there the mounts are private already.
    # A PID namespace of its own ends every process left when the script ends (the engine's
    # processes outlive a helper that crashed).
    unshare --mount --propagation unchanged --net --pid --fork --kill-child \
        "$0" "$arch" sign-in-here
    took "sign-ins under emulation" "$start"
}

# In mount, network and PID namespaces of this script's own: a private /tmp for Xvfb's socket and
# lock, a loopback that only the demo provider and the emulated programs share, and their /proc.
sign_in_here() {
    mount --make-rprivate / 2>/dev/null || ! mountpoint -q /
    mount -t proc proc /proc
    ip link set lo up
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    mkdir -m 1777 /tmp/.X11-unix
    Xvfb :0 -nolisten tcp -screen 0 1024x768x24 2>/dev/null &
    xvfb=$!
    local provider_log=/tmp/provider.log url
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X0 ] && break; sleep 0.1; done
    coproc PROVIDER { exec python3 tools/demo/demo_provider.py --auto-submit \
        --auto-submit-delay-ms 300 2>"$provider_log"; }
    provider=$PROVIDER_PID
    trap 'kill $xvfb $provider 2>/dev/null' EXIT
    read -r -t 30 url <&"${PROVIDER[0]}"
    local redirect=ms-appx-web://demo.example/signed-in
    url="$url?redirect_uri=$redirect&state=$arch"
    # The emulated programs start others through the emulated-exec copies (see there): the
    # engine its own processes through QTWEBENGINEPROCESS_PATH, the client the helper through
    # --helper, and the library's example finds one on PATH. The environment is set out here, as
    # the sysroot has no program this machine can run but qemu; PATH's sbin folders are for
    # scripts/chroot-run.sh on the way in. These namespaces are already this run's own, so it
    # only mounts and enters the chroot (TAVISK_CHROOT_NAMESPACED), as it cannot make new ones
    # from inside a chroot.
    run_emulated() {
        env -i PATH="$emu/usr/bin:/usr/sbin:/usr/bin:/sbin:/bin" HOME=/root LANG=C.UTF-8 \
            DISPLAY=:0 QTWEBENGINE_DISABLE_SANDBOX=1 TAVISK_CHROOT_NAMESPACED=1 \
            QTWEBENGINEPROCESS_PATH="$emu/usr/lib/qt6/libexec/QtWebEngineProcess" \
            timeout 300 scripts/chroot-run.sh "$sysroot" --net "$emu/qemu" -0 "$1" "$@"
    }
    local start got
    start=$(date +%s)
    got=$(run_emulated /usr/bin/corvane-tavisk-client --helper="$emu/usr/bin/corvane-tavisk" \
        --url "$url" --redirect-uri "$redirect" --title "$arch" --timeout-ms 240000)
    [[ $got == "$redirect?code="*"&state=$arch" ]] || { echo "sign-in gave: $got" >&2; exit 1; }
    grep -Eq "page on ($platform)\)" "$provider_log" \
        || { echo "the page did not run on $arch:" >&2; cat "$provider_log" >&2; exit 1; }
    grep -o "page on [^)]*" "$provider_log"
    took "signed in with the installed client and helper, the page on $arch" "$start"
    start=$(date +%s)
    got=$(run_emulated /opt/example/signin "$url" "$redirect")
    [[ $got == "$redirect?code="*"&state=$arch" ]] || { echo "example gave: $got" >&2; exit 1; }
    took "signed in with the client library's example" "$start"
}

case "$step" in
sysroot) make_sysroot ;;
package) cross_package ;;
check) check_packages ;;
sign-in-here) sign_in_here ;;
all)
    make_sysroot
    cross_package
    check_packages
    ;;
*)
    echo "usage: cross-package.sh arm64|armhf [sysroot|package|check]" >&2
    exit 64
    ;;
esac
