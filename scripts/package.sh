#!/usr/bin/env bash
# Builds the Debian packages in one command, into build/packages/:
#   corvane-tavisk_<version>_<arch>.deb                the helper and corvane-tavisk-client
#   libcorvane-tavisk-client1_<version>_<arch>.deb     the client library
#   libcorvane-tavisk-client-dev_<version>_<arch>.deb  its header, pkg-config and CMake files
# It packages the main build tree (build/, the one scripts/test.sh tests), so after a test run
# only CPack's own step is left; the binaries are stripped on the way into the packages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
rm -rf build/packages
(cd build && cpack -G DEB -B "$root/build/packages" >/dev/null)
# CPack's working tree holds a second copy of everything; only the packages are wanted.
rm -rf build/packages/_CPack_Packages
ls -1 build/packages/*.deb
