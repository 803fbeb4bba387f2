#!/usr/bin/env bash
# Cross-builds the Windows program (Pellora.exe) and its Windows tests on
# Debian/Ubuntu with mingw-w64.
#
#   scripts/build-windows.sh [BUILD_DIR]      (default: build-windows/)
#
# Installs the missing packages, builds libusb for Windows from Debian's source
# package into BUILD_DIR/deps (once: a present library is reused), then
# configures and builds BUILD_DIR. Pellora.exe ends up in BUILD_DIR/src/app/.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

build_dir=${1:-$PELLORA_ROOT/build-windows}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

# The POSIX thread model: the win32 one has no std::thread/std::mutex.
# dpkg-dev unpacks the libusb source package; googletest is cross-built from source.
PELLORA_WINDOWS_BUILD_PACKAGES="g++-mingw-w64-x86-64-posix cmake make pkg-config dpkg-dev googletest"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "Needs root for: $*" >&2
        return 1
    fi
}

install_missing() {
    local missing
    missing=$(pellora_missing_packages "$@")
    [ -z "$missing" ] && return 0
    echo "Installing:$missing" >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

# Debian ships no libusb for mingw: its source package is built instead, which
# needs a deb-src entry. On Debian one is added in a file of its own, with the
# URIs and key of the system's own entry, unless some deb-src entry exists.
ensure_deb_src() {
    if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return 0
    fi
    local id="" codename=""
    id=$(. /etc/os-release && echo "${ID:-}")
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ "$id" != debian ] || [ -z "$codename" ]; then
        echo "No deb-src entry: enable source packages in your apt sources and retry" >&2
        return 1
    fi
    local list=/etc/apt/sources.list.d/pellora-deb-src.sources
    echo "Adding $list for Debian source packages" >&2
    as_root tee "$list" >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
}

# libusb built for mingw into BUILD_DIR/deps/libusb, kept across builds.
build_libusb() {
    local prefix=$build_dir/deps/libusb
    if [ -f "$prefix/lib/libusb-1.0.a" ] && [ -f "$prefix/lib/pkgconfig/libusb-1.0.pc" ]; then
        return 0
    fi
    ensure_deb_src
    local work=$build_dir/deps/src
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    echo "Building libusb for Windows from Debian's source package" >&2
    (
        cd "$work"
        apt-get source libusb-1.0 >apt-source.log 2>&1 || { cat apt-source.log >&2; exit 1; }
        cd libusb-1.0-*/
        {
            ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
                --prefix="$prefix" --enable-static --disable-shared &&
                make -j "$(nproc)" && make install
        } >"$work/libusb-build.log" 2>&1 || { tail -n 40 "$work/libusb-build.log" >&2; exit 1; }
    )
    rm -rf "$work"
}

if ! command -v apt-get >/dev/null 2>&1; then
    echo "Needs Debian/Ubuntu (apt-get) with: $PELLORA_WINDOWS_BUILD_PACKAGES" >&2
    exit 1
fi
install_missing $PELLORA_WINDOWS_BUILD_PACKAGES
build_libusb

cmake -S "$PELLORA_ROOT" -B "$build_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$PELLORA_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DLIBUSB_ROOT="$build_dir/deps/libusb" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORA_WERROR=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
