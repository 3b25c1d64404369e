#!/usr/bin/env bash
# Fuzzes one target for a long stretch with a corpus that persists between runs.
#
#   scripts/fuzz-long.sh [channel|redirect|reply] [seconds] [extra libFuzzer flags...]
#
# Defaults: channel, 600 seconds. Builds build-fuzz (clang, core only, ASan+UBSan, libFuzzer) if
# needed. The corpus grows in build-fuzz/fuzz-corpus/<target> (the checked-in seeds under
# tests/fuzz/corpus/<target> are only read); crashing inputs land in build-fuzz/fuzz-artifacts/
# and the whole log in build-fuzz/fuzz-logs/. Prints the executions, the speed, the coverage and
# the findings at the end; exits non-zero when the fuzzer found something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-channel}
seconds=${2:-600}
shift $(( $# < 2 ? $# : 2 ))

# The command loop reads 4096 bytes at a time: channel inputs run to three reads.
case "$target" in
    channel) max_len=12288 ;;
    redirect) max_len=4096 ;;
    reply) max_len=4096 ;;
    *) echo "usage: $0 [channel|redirect|reply] [seconds] [libFuzzer flags...]" >&2; exit 2 ;;
esac
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "seconds must be a whole number: $seconds" >&2; exit 2; }

build="$root/build-fuzz"
if [[ ! -f "$build/build.ninja" ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DTAVISK_CORE_ONLY=ON -DTAVISK_SANITIZE=address,undefined -DTAVISK_FUZZ=ON >/dev/null
fi
# Two jobs at most: the machine is shared.
ninja -C "$build" -j2 "fuzz_$target" >/dev/null

corpus="$build/fuzz-corpus/$target"
artifacts="$build/fuzz-artifacts"
logs="$build/fuzz-logs"
mkdir -p "$corpus" "$artifacts" "$logs"
log="$logs/$target-$(date -u +%Y%m%dT%H%M%SZ).log"
marker="$logs/.$target-started"
touch "$marker"

echo "fuzzing $target for ${seconds}s; corpus $corpus; log $log"
status=0
"$build/tests/fuzz/fuzz_$target" "$corpus" "$root/tests/fuzz/corpus/$target" \
    -dict="$root/tests/fuzz/$target.dict" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -artifact_prefix="$artifacts/$target-" -print_final_stats=1 "$@" >"$log" 2>&1 || status=$?

# The last status line holds the coverage; the final statistics the executions and the speed.
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
echo "executions:  ${execs:-?}"
echo "exec/s:      ${speed:-?}"
echo "last status: ${last:-?}"
echo "corpus now:  $(find "$corpus" -type f | wc -l) inputs"
found=$(find "$artifacts" -name "$target-*" -type f -newer "$marker")
if (( status != 0 )) || [[ -n "$found" ]]; then
    echo "FINDINGS: libFuzzer exited $status; new artifacts:"
    echo "${found:-  (none written)}"
    grep -E 'ERROR: |fuzzer: |SUMMARY: ' "$log" | head -n 20 || true
    exit 1
fi
echo "findings:    none"
