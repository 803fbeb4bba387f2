#!/usr/bin/env bash
# Cross-builds the Windows program (Pellora.exe) and its Windows tests on
# Debian/Ubuntu with mingw-w64.
#
#   scripts/build-windows.sh [BUILD_DIR]      (default: build-windows/)
#
# Installs the missing packages, builds libusb for Windows from Debian's source
# package, with the patches of scripts/patches/ applied, into BUILD_DIR/deps
# (once: a library built from the same patches is reused), then configures and
# builds BUILD_DIR. Pellora.exe ends up in BUILD_DIR/src/app/.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

build_dir=${1:-$PELLORA_ROOT/build-windows}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

# Our fixes to the libusb source, applied in name order; a library built from
# other patches (or none, before there were any) is built again.
shopt -s nullglob
libusb_patches=("$PELLORA_ROOT"/scripts/patches/libusb-*.patch)
shopt -u nullglob
libusb_patch_stamp() {
    cat "${libusb_patches[@]}" /dev/null | sha256sum | cut -d' ' -f1
}

# libusb built for mingw into BUILD_DIR/deps/libusb, kept across builds.
build_libusb() {
    local prefix=$build_dir/deps/libusb
    local stamp
    stamp=$(libusb_patch_stamp)
    if [ -f "$prefix/lib/libusb-1.0.a" ] && [ -f "$prefix/lib/pkgconfig/libusb-1.0.pc" ] &&
        [ "$(cat "$prefix/pellora-patches" 2>/dev/null)" = "$stamp" ]; then
        return 0
    fi
    pellora_ensure_deb_src
    local work=$build_dir/deps/src
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    echo "Building libusb for Windows from Debian's source package" >&2
    (
        cd "$work"
        apt-get source libusb-1.0 >apt-source.log 2>&1 || { cat apt-source.log >&2; exit 1; }
        cd libusb-1.0-*/
        for patch in "${libusb_patches[@]}"; do
            patch -p1 --forward <"$patch" >"$work/patch.log" 2>&1 ||
                { cat "$work/patch.log" >&2; echo "$patch does not apply" >&2; exit 1; }
        done
        {
            ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
                --prefix="$prefix" --enable-static --disable-shared &&
                make -j "$(nproc)" && make install
        } >"$work/libusb-build.log" 2>&1 || { tail -n 40 "$work/libusb-build.log" >&2; exit 1; }
    )
    echo "$stamp" >"$prefix/pellora-patches"
    rm -rf "$work"
}

if ! command -v apt-get >/dev/null 2>&1; then
    echo "Needs Debian/Ubuntu (apt-get) with: $(pellora_packages_of windows-build)" >&2
    exit 1
fi
pellora_setup windows-build
build_libusb

# The windows preset of CMakePresets.json, in BUILD_DIR.
pellora_build_preset windows "$build_dir" -DLIBUSB_ROOT="$build_dir/deps/libusb"
