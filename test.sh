#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first under
# ThreadSanitizer and AddressSanitizer, then the Windows program under Wine,
# the ARM builds under qemu-user, the fuzzers, the packages, and last the plain
# build, whose ctest summary ends the output. Each stage says how long it took.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")" && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

pellora_setup test arm packages windows-build windows-test
jobs=$(nproc)

# stage TITLE COMMAND...: runs one stage and prints its time.
stage() {
    local title=$1 start=$SECONDS
    shift
    echo "== $title" >&2
    "$@"
    echo "== $title: $((SECONDS - start)) s" >&2
}

sanitized() {
    local sanitizer=$1
    local dir="$PELLORA_ROOT/build-$sanitizer"
    pellora_build_preset "$sanitizer" "$dir"
    local log="$dir/ctest.log"
    if (cd "$PELLORA_ROOT" && ctest --preset "$sanitizer" -j "$jobs") >"$log" 2>&1; then
        grep -E "tests passed|Total Test time" "$log"
    else
        cat "$log"
        exit 1
    fi
}

stage "tests under the thread sanitizer" sanitized thread
stage "tests under the address sanitizer" sanitized address
stage "Windows program: cross-build, tests under Wine" "$PELLORA_ROOT/scripts/test-windows.sh"
stage "ARM (arm64, armhf): cross-build, portable tests under qemu-user" "$PELLORA_ROOT/scripts/test-arm.sh"
stage "fuzzers, ${PELLORA_FUZZ_SECONDS:-30} s each" "$PELLORA_ROOT/scripts/run-fuzzers.sh"
stage "build" pellora_build_preset plain "$PELLORA_ROOT/build"
stage "packages: build, lintian, install and remove" "$PELLORA_ROOT/scripts/test-packages.sh"
echo "== tests" >&2
cd "$PELLORA_ROOT"
ctest --preset plain -j "$jobs"
