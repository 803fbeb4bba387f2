#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang (ASan + UBSan) in their own
# tree and runs each for a bounded time, side by side (one core each). Fails when
# a fuzzer crashes or finds a broken invariant.
#
#   scripts/run-fuzzers.sh                              # 30 s each (./test.sh runs this)
#   PELLORA_FUZZ_SECONDS=3600 scripts/run-fuzzers.sh    # longer, by hand
#   PELLORA_FUZZ_BUILD_DIR=/tmp/fz scripts/run-fuzzers.sh   # another tree (default build-fuzz/)
#
# The committed seeds in fuzz/corpus/NAME are only read; inputs that reach new
# code are kept in BUILD_DIR/corpus/NAME, so a later run goes on from there.
# A failing input is left as BUILD_DIR/artifacts/NAME-crash-* (the log says
# which); run it again with BUILD_DIR/NAME_fuzzer THAT_FILE. Each fuzzer's output
# is in BUILD_DIR/NAME.log.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

seconds=${PELLORA_FUZZ_SECONDS:-30}
build=${PELLORA_FUZZ_BUILD_DIR:-$PELLORA_ROOT/build-fuzz}
fuzzers=(report_decoder host_command)

pellora_setup test  # clang and its fuzzer runtime are among the test packages
# A tree that was configured from fuzz/ itself, before the fuzz preset, starts anew.
if [ -f "$build/CMakeCache.txt" ] &&
    ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$PELLORA_ROOT" "$build/CMakeCache.txt"; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
(cd "$PELLORA_ROOT" && cmake --preset fuzz -B "$build" >/dev/null)
if ! cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1; then
    cat "$build/build.log"
    exit 1
fi

pids=()
for name in "${fuzzers[@]}"; do
    mkdir -p "$build/corpus/$name" "$build/artifacts"
    # -timeout: one input running this long counts as a hang and fails the run.
    "$build/${name}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" \
        "$build/corpus/$name" "$PELLORA_ROOT/fuzz/corpus/$name" >"$build/$name.log" 2>&1 &
    pids+=($!)
done

# A figure of libFuzzer's final statistics (-print_final_stats) from log $1.
final_stat() { sed -n "s/^stat::$2: *//p" "$1"; }

failed=0
for i in "${!fuzzers[@]}"; do
    name=${fuzzers[$i]}
    log="$build/$name.log"
    if wait "${pids[$i]}"; then
        echo "fuzzer $name: $(final_stat "$log" number_of_executed_units) inputs in ${seconds} s," \
            "$(final_stat "$log" average_exec_per_sec)/s," \
            "corpus $(find "$build/corpus/$name" -type f | wc -l) inputs," \
            "peak RSS $(final_stat "$log" peak_rss_mb) MB: no failure"
    else
        failed=1
        tail -n 60 "$log"
        echo "fuzzer $name FAILED; its input is in $build/artifacts/ (full log: $log)" >&2
    fi
done
exit "$failed"
