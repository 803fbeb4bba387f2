#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first under
# ThreadSanitizer and AddressSanitizer, then the plain build, whose ctest
# summary ends the output.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")" && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

pellora_setup test
jobs=$(nproc)

for sanitizer in thread address; do
    dir="$PELLORA_ROOT/build-$sanitizer"
    echo "== tests under the ${sanitizer} sanitizer" >&2
    pellora_build "$dir" -DPELLORA_WERROR=ON -DPELLORA_SANITIZE=$sanitizer
    log="$dir/ctest.log"
    if ctest --test-dir "$dir" -j "$jobs" --output-on-failure >"$log" 2>&1; then
        grep -E "tests passed|Total Test time" "$log"
    else
        cat "$log"
        exit 1
    fi
done

echo "== Windows program: cross-build, tests under Wine" >&2
"$PELLORA_ROOT/scripts/test-windows.sh"

echo "== fuzzers, ${PELLORA_FUZZ_SECONDS:-30} s each" >&2
"$PELLORA_ROOT/scripts/run-fuzzers.sh"

echo "== tests" >&2
pellora_build "$PELLORA_ROOT/build" -DPELLORA_WERROR=ON
ctest --test-dir "$PELLORA_ROOT/build" -j "$jobs" --output-on-failure
