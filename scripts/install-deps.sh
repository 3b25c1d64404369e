#!/usr/bin/env bash
# Installs the packages that building, running and testing the helper need, on Debian 12
# (bookworm) or Debian 13 (trixie): the release comes from /etc/os-release.
# Runs apt-get only when something is missing; uses sudo when not root.
#   scripts/install-deps.sh                  install what is missing
#   scripts/install-deps.sh --list [RELEASE] print the package list (one per line, the lean ones
#                                            marked "lean:"), e.g. for a chroot's cache stamp
set -euo pipefail

release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
list_only=0
if [ "${1:-}" = "--list" ]; then
    list_only=1
    release=${2:-$release}
fi

# Installed with their recommends: the same names on both releases.
packages=(
    cmake ninja-build g++ pkg-config
    nlohmann-json3-dev
    qt6-base-dev qt6-webengine-dev libgl-dev
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n libpsl-dev publicsuffix
    xvfb xauth xdotool x11-utils
    python3 python3-xlib python3-websocket
    openssl libnss3-tools
    libnss3-dev softhsm2 p11-kit p11-kit-modules
    libgtest-dev clang
    time procps
    dpkg-dev file lintian
    debootstrap iproute2
    dbus-daemon at-spi2-core python3-pyatspi
    # GNOME's proxy settings, read through GIO's GSettings, and the schema that names them
    libglib2.0-dev gsettings-desktop-schemas
)
# The desktops the process tests start (sway with XWayland, openbox on Xvfb, and below GNOME's
# mutter and KDE's KWin, headless) and the tools that stand in for a person there, with the
# full-screen GTK 3 client they sign in over; a private Kerberos realm (its KDC, kadmin.local,
# kinit) and GSSAPI for the loopback SPNEGO server. Installed without their recommends: those
# are configuration programs, menus and wallpapers (openbox's would bring a second Qt and GTK 2;
# mutter's and KWin's whole desktops).
lean_packages=(
    sway xwayland qt6-wayland wtype grim foot
    mutter       # 43 on Debian 12, 48 on Debian 13: the GNOME tests run on both
    kwin-wayland # KWin 5.27 on Debian 12, 6.3 on Debian 13: the KDE tests run on both
    openbox xterm
    libglib2.0-bin python3-dbus python3-gi gir1.2-gtk-3.0
    krb5-kdc krb5-admin-server krb5-user python3-gssapi
    # The sign-in window as a child of the client's window: xcb for X11; for Wayland the
    # xdg-foreign client code (wayland-scanner, the protocol descriptions) and Qt's native
    # interface, which Qt 6.4 ships only among its private headers.
    libxcb1-dev libwayland-dev wayland-protocols qt6-base-private-dev
    # The arm64 and armhf packages (scripts/cross-package.sh): a sysroot of each unpacked by
    # mmdebstrap (its recommends would bring fakechroot and uidmap, which its root mode does not
    # use) and the cross compilers. qemu is not installed: its static binary is unpacked from its
    # .deb, as installing it could register binfmt handlers with the kernel.
    mmdebstrap crossbuild-essential-arm64 crossbuild-essential-armhf
)
# What differs by release: names that carry a version, and packages one release lacks.
case "$release" in
bookworm)
    packages+=(libclang-rt-14-dev) # the sanitizer runtimes of Debian 12's clang 14
    ;;
trixie)
    packages+=(libclang-rt-19-dev) # the sanitizer runtimes of Debian 13's clang 19
    ;;
*)
    echo "install-deps.sh: Debian 12 (bookworm) or 13 (trixie) expected, not '$release'" >&2
    exit 1
    ;;
esac

if [ "$list_only" = 1 ]; then
    printf '%s\n' "${packages[@]}"
    printf 'lean:%s\n' "${lean_packages[@]}"
    exit 0
fi

missing_from() {
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package"
        fi
    done
}
mapfile -t missing < <(missing_from "${packages[@]}")
mapfile -t missing_lean < <(missing_from "${lean_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_lean[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]} ${missing_lean[*]}" >&2
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
fi
if [ ${#missing_lean[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing_lean[@]}" >&2
fi
