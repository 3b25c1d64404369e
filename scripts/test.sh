#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit and process tests against the real
# binary under Xvfb; the Debian packages, built, checked by lintian and run unpacked; then the
# display-free core and the client library again under AddressSanitizer+UBSan (with short
# fuzzing runs) and under ThreadSanitizer; the arm64 packages, cross-built and run under qemu
# (scripts/cross-package.sh); the packages installed into a fresh system of this
# release; then all of it but the format check and the sanitizer builds again in a chroot of the
# other release (Debian 13 on Debian 12, and the other way round), and that release's packages
# installed into a fresh system of their own (that chroot is made in the background from the
# start). The slow stages come last.
#   TAVISK_OTHER_RELEASE=none   leaves out the other release (and this release's clean install)
#   TAVISK_INNER_RUN=1          set by scripts/test-in-chroot.sh for the run inside the chroot
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case "$release" in
bookworm) other_release=trixie ;;
*) other_release=bookworm ;;
esac
other_release=${TAVISK_OTHER_RELEASE:-$other_release}
inner=${TAVISK_INNER_RUN:-0}

jobs=$(nproc 2>/dev/null || echo 2)
# Each stage's wall time, printed as a table at the end, also when a stage fails.
stage_names=()
stage_seconds=()
stage_started=$(date +%s)
suite_started=$stage_started
section() {
    local now
    now=$(date +%s)
    [ ${#stage_names[@]} -eq 0 ] || stage_seconds+=($((now - stage_started)))
    stage_started=$now
    stage_names+=("$*")
    printf '\n=== %s ===\n' "$*"
}
print_times() {
    stage_seconds+=($(($(date +%s) - stage_started)))
    printf '\n=== times (%s) ===\n' "$release"
    for i in "${!stage_names[@]}"; do
        printf '%6d s  %s\n' "${stage_seconds[$i]}" "${stage_names[$i]}"
    done
    printf '%6d s  all\n' $(($(date +%s) - suite_started))
}
trap print_times EXIT

section "dependencies"
scripts/install-deps.sh

# The other release's chroot, its packages and its cross sysroots come from the mirror: made in
# the background while this release builds and tests (mostly downloading and unpacking), so that
# its suite can start at once when its turn comes.
prepare_pid=
prepare_log=build-$other_release/prepare.log
if [ "$inner" != 1 ] && [ "$other_release" != none ]; then
    mkdir -p "build-$other_release"
    scripts/test-in-chroot.sh "$other_release" prepare >"$prepare_log" 2>&1 &
    prepare_pid=$!
fi

# The format is the host's to check: another release's clang-format may wrap lines otherwise.
if [ "$inner" != 1 ]; then
    section "format"
    scripts/check-format.sh
fi

section "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

section "unit and process tests"
ctest --test-dir build --output-on-failure --timeout 600

section "Debian packages: built from the tested tree, checked, unpacked and run"
scripts/package.sh
lintian --fail-on error,warning build/packages/*.deb
TAVISK_PACKAGES=build/packages PYTHONPATH=tests/e2e/lib:tests/e2e/client \
    /usr/bin/python3 tests/e2e/package/test_package.py -v

# This release's packages for the ARM boards, cross-built from the tested tree into
# build-ARCH-$release/, unpacked into a sysroot there (kept, with a stamp), their dependencies
# resolved by its apt, and signed in with under qemu. In the chroot the sysroots were made before
# the suite, which runs without the mirror there (scripts/test-in-chroot.sh).
#   TAVISK_CROSS_ARCHES="arm64 armhf"   the architectures (default arm64; empty for none). armhf
#                                       passes on Debian 13, but on Debian 12 its sign-in dies
#                                       of a bus error under qemu-arm (docs/arm.md).
export TAVISK_CROSS_ARCHES=${TAVISK_CROSS_ARCHES-arm64}
cross_stages() {
    for arch in $TAVISK_CROSS_ARCHES; do
        section "$arch packages for $release: cross-built, installed into a sysroot, run under qemu"
        scripts/cross-package.sh "$arch"
    done
}

# The sanitizer builds run on the host only. The core they build is plain C++ without Qt and
# without a branch by release: in the chroot they would run the same code again, for minutes.
if [ "$inner" = 1 ]; then
    cross_stages
    exit 0
fi

section "core under AddressSanitizer and UndefinedBehaviorSanitizer, with fuzzing"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DTAVISK_CORE_ONLY=ON -DTAVISK_SANITIZE=address,undefined -DTAVISK_FUZZ=ON >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure --timeout 600

section "core under ThreadSanitizer"
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DTAVISK_CORE_ONLY=ON -DTAVISK_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs"
ctest --test-dir build-tsan --output-on-failure --timeout 600

cross_stages

[ "$other_release" != none ] || exit 0

section "clean install of the $release packages"
scripts/check-clean-install.sh "$release" build/packages

section "the suite in a $other_release chroot"
wait "$prepare_pid" || { cat "$prepare_log" >&2; echo "the $other_release chroot could not be made" >&2; exit 1; }
cat "$prepare_log"
scripts/test-in-chroot.sh "$other_release" run

section "clean install of the $other_release packages"
scripts/check-clean-install.sh "$other_release" "build-$other_release/src/build/packages"
