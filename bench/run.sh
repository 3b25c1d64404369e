#!/usr/bin/env bash
# One command for the benchmark table in docs/performance.md: installs what is missing, builds
# the helper and the floor programs in build-bench (Release), then measures helper and floor
# side by side under a private Xvfb and prints one table on stdout (raw runs go to stderr).
# Extra arguments go to bench/bench.py (for example --rounds 9).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVISK_BENCH_BUILD:-$root/build-bench}"

"$root/scripts/install-deps.sh"

buildlog="$(mktemp)"
trap 'rm -f "$buildlog"' EXIT
if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        && ninja -C "$build" -j2 corvane-tavisk tavisk-bench-floor tavisk-bench-echo \
            tavisk-bench-stamps tavisk-bench-jsonecho \
            tavisk-bench-channelcost; } >"$buildlog" 2>&1; then
    cat "$buildlog" >&2
    echo "bench: the build failed" >&2
    exit 1
fi

exec /usr/bin/python3 "$root/bench/bench.py" --build "$build" "$@"
