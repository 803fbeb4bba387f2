#!/usr/bin/env bash
# Builds every package into one folder:
#
#   scripts/build-packages.sh [DIST]        (default: dist/)
#
#   pellora_VERSION_amd64.deb   this machine's own (the plain tree, build/)
#   pellora_VERSION_arm64.deb   64-bit Raspberry Pi OS and Debian (build-arm64/)
#   pellora_VERSION_armhf.deb   32-bit Raspberry Pi OS and Debian (build-armhf/)
#   Pellora-VERSION-win64.zip   Pellora.exe and README-Windows.txt (build-windows/)
#
# The trees are those of CMakePresets.json, shared with ./test.sh: a tree that
# is up to date is only packed again. Installs what is missing first.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

dist=${1:-$PELLORA_ROOT/dist}
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)

pellora_setup test arm packages

# Packs one built tree with CPack into DIR/packages.
pack() {
    local dir=$1
    rm -rf "$dir/packages"
    if ! (cd "$dir" && cpack) >"$dir/cpack.log" 2>&1; then
        cat "$dir/cpack.log"
        exit 1
    fi
}

for preset in plain arm64 armhf; do
    dir=$PELLORA_ROOT/build
    [ "$preset" = plain ] || dir=$PELLORA_ROOT/build-$preset
    mkdir -p "$dir"
    if ! pellora_build_preset "$preset" "$dir" >"$dir/build.log" 2>&1; then
        cat "$dir/build.log"
        exit 1
    fi
    pack "$dir"
done

windows=$PELLORA_ROOT/build-windows
mkdir -p "$windows"
if ! "$PELLORA_ROOT/scripts/build-windows.sh" "$windows" >"$windows/build-windows.log" 2>&1; then
    cat "$windows/build-windows.log"
    exit 1
fi
pack "$windows"

rm -f "$dist"/pellora_*.deb "$dist"/Pellora-*-win64.zip
cp "$PELLORA_ROOT"/build/packages/pellora_*.deb "$PELLORA_ROOT"/build-arm64/packages/pellora_*.deb \
    "$PELLORA_ROOT"/build-armhf/packages/pellora_*.deb "$windows"/packages/Pellora-*-win64.zip "$dist/"
ls -l "$dist"
