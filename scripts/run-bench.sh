#!/usr/bin/env bash
# Builds and runs the relay's benchmark: an emulated keyboard, a pty as the
# X68000, the relay in process and the real pellora program; prints one table.
#   scripts/run-bench.sh              full run (about three minutes)
#   scripts/run-bench.sh --quick      a short run to see that it works
#   scripts/run-bench.sh --real-host  only the rows of a real host talking and of
#                                     LED reports nobody answers (about a minute)
#   scripts/run-bench.sh --input      only the rows of an input-device keyboard
#                                     beside the X68000 Z keyboard (about a minute)
#   scripts/run-bench.sh --mouse      only the rows of a mouse beside the keyboard
#                                     (about a minute)
# Run it on a quiet machine: the figures are the machine's as much as ours.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

pellora_setup test
dir="$PELLORA_ROOT/build-bench"
log="$dir.log"
if ! { cmake -S "$PELLORA_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPELLORA_TESTS=ON &&
       cmake --build "$dir" -j "$(nproc)" --target pellora_bench; } >"$log" 2>&1; then
    cat "$log"
    exit 1
fi
exec "$dir/bench/pellora_bench" "$dir/src/pellora" "$@"
