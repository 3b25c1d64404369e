#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit and process tests against the real
# binary under Xvfb; the Debian packages, built, checked by lintian and run unpacked; then the
# display-free core and the client library again under AddressSanitizer+UBSan (with short
# fuzzing runs) and under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
section() { printf '\n=== %s ===\n' "$*"; }

section "format"
scripts/check-format.sh

section "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

section "unit and process tests"
ctest --test-dir build --output-on-failure --timeout 600

section "Debian packages: built from the tested tree, checked, unpacked and run"
scripts/package.sh
lintian --fail-on error,warning build/packages/*.deb
TAVISK_PACKAGES=build/packages /usr/bin/python3 tests/e2e/package/test_package.py -v

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
