# Sourced by run.sh and test.sh: installs what the build (and the tests) need on
# Debian/Ubuntu, and names what is missing anywhere else.
#
#   pellora_setup build   # compiler, CMake, libusb
#   pellora_setup test    # the above plus GoogleTest, the USB emulator and clang (fuzzers)

PELLORA_BUILD_PACKAGES="g++ cmake make pkg-config libusb-1.0-0-dev"
# clang and libclang-rt-dev (its sanitizer and libFuzzer runtimes): the fuzzers.
PELLORA_TEST_PACKAGES="libgtest-dev libgmock-dev umockdev libumockdev-dev clang libclang-rt-dev systemd"

pellora_missing_packages() {
    local pkg missing=""
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $pkg"
        fi
    done
    echo "$missing"
}

pellora_setup() {
    local packages="$PELLORA_BUILD_PACKAGES"
    if [ "${1:-build}" = test ]; then
        packages="$packages $PELLORA_TEST_PACKAGES"
    fi
    if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
        echo "This is not a Debian/Ubuntu system; install these (or your system's equivalents) and retry:" >&2
        echo "  $packages" >&2
        for tool in g++ cmake pkg-config; do
            command -v "$tool" >/dev/null 2>&1 || { echo "missing: $tool" >&2; return 1; }
        done
        return 0
    fi
    local missing
    missing=$(pellora_missing_packages $packages)
    [ -z "$missing" ] && return 0

    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Missing packages:$missing" >&2
            echo "Run as root, or install them with: apt-get install$missing" >&2
            return 1
        fi
    fi
    echo "Installing:$missing" >&2
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

# Configures (once) and builds one build directory: pellora_build DIR [cmake args...]
pellora_build() {
    local dir=$1
    shift
    cmake -S "$PELLORA_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORA_TESTS=ON "$@" >/dev/null &&
        cmake --build "$dir" -j "$(nproc)"
}
