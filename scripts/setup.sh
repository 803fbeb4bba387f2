# Sourced by run.sh, test.sh and the scripts under scripts/: the one place that
# installs what they need on Debian/Ubuntu, and names what is missing anywhere
# else.
#
#   pellora_setup GROUP...     install the missing packages of these groups:
#     build          compiler, CMake, libusb, libsystemd, libudev
#     test           build, plus GoogleTest, the USB emulator, clang (fuzzers), man
#     windows-build  mingw-w64 and what builds libusb for Windows from source
#     windows-test   Wine, Xvfb and the fonts of the Windows tests
#     arm            the arm64 and armhf cross compilers, qemu-user, and the
#                    target's libraries as multiarch packages (adds arm64 and
#                    armhf to dpkg's architectures)
#     packages       what makes and checks the .deb packages (dpkg-shlibdeps, lintian)

# libsystemd-dev: sd_notify and the watchdog of the service; libudev-dev: --list.
PELLORA_PACKAGES_build="g++ cmake make pkg-config libusb-1.0-0-dev libsystemd-dev libudev-dev libevdev-dev"
# clang and libclang-rt-dev (its sanitizer and libFuzzer runtimes): the fuzzers.
# man-db and groff-base: the manual page's tests; systemd: systemd-analyze rates
# the service unit's sandbox.
PELLORA_PACKAGES_test="libgtest-dev libgmock-dev umockdev libumockdev-dev clang libclang-rt-dev man-db groff-base systemd"
# The POSIX thread model: the win32 one has no std::thread/std::mutex.
# dpkg-dev unpacks the libusb source package; googletest is cross-built from source.
PELLORA_PACKAGES_windows_build="g++-mingw-w64-x86-64-posix cmake make pkg-config dpkg-dev googletest"
# Wine and fonts that render the dialog's Japanese text; Xvfb for the windows;
# ImageMagick turns the screenshots into PNG; python3 runs the serial peer.
PELLORA_PACKAGES_windows_test="wine wine64 fonts-wine fonts-ipafont-gothic xvfb xauth imagemagick python3"
# libstdc++6:ARCH beside the multiarch packages of libusb, libsystemd and
# libudev: qemu runs the tests with the target's multiarch C and C++
# libraries, and dpkg-shlibdeps reads their package data for the Depends of a
# cross-built .deb.
PELLORA_PACKAGES_arm="g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user googletest
 libusb-1.0-0-dev:arm64 libsystemd-dev:arm64 libudev-dev:arm64 libstdc++6:arm64
 libusb-1.0-0-dev:armhf libsystemd-dev:armhf libudev-dev:armhf libstdc++6:armhf"
# dpkg-dev: dpkg-shlibdeps; file: CPack finds the programs to strip and to scan.
PELLORA_PACKAGES_packages="dpkg-dev file lintian man-db"

# The packages of one group, by name.
pellora_packages_of() {
    case $1 in
    build) echo "$PELLORA_PACKAGES_build" ;;
    test) echo "$PELLORA_PACKAGES_build $PELLORA_PACKAGES_test" ;;
    windows-build) echo "$PELLORA_PACKAGES_windows_build" ;;
    windows-test) echo "$PELLORA_PACKAGES_windows_test" ;;
    arm) echo "$PELLORA_PACKAGES_arm" ;;
    packages) echo "$PELLORA_PACKAGES_packages" ;;
    *) echo "pellora_setup: no package group '$1'" >&2; return 1 ;;
    esac
}

pellora_missing_packages() {
    local pkg missing=""
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $pkg"
        fi
    done
    echo "$missing"
}

# Runs a command as root: directly, or through sudo.
pellora_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "Needs root for: $*" >&2
        return 1
    fi
}

# apt-get, non-interactive, waiting for another apt or dpkg run to finish.
pellora_apt_get() {
    pellora_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get -o DPkg::Lock::Timeout=600 -q "$@"
}

# Refreshes apt's package lists. A mirror caught mid-sync serves an index whose
# size does not match its Release file, and apt-get update then exits 100 while
# keeping the lists it had ("old ones used instead"). Such a mismatch usually
# clears within minutes, so the update is tried three times; if it still fails,
# the install goes on with the lists apt has and fails by itself, naming the
# package, if one it needs cannot be had.
pellora_apt_update() {
    local try
    for try in 1 2 3; do
        pellora_apt_get update -qq && return 0
        [ "$try" -lt 3 ] && echo "apt-get update failed; trying again in $((try * 15)) s" >&2 &&
            sleep $((try * 15))
    done
    echo "apt-get update failed three times; going on with the package lists apt has" >&2
    return 0
}

pellora_setup() {
    local group packages="" list
    for group in "${@:-build}"; do
        list=$(pellora_packages_of "$group") || return 1
        packages="$packages $list"
    done
    if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
        echo "This is not a Debian/Ubuntu system; install these (or your system's equivalents) and retry:" >&2
        echo " " $packages >&2
        for tool in g++ cmake pkg-config; do
            command -v "$tool" >/dev/null 2>&1 || { echo "missing: $tool" >&2; return 1; }
        done
        return 0
    fi
    local missing
    missing=$(pellora_missing_packages $packages)
    [ -z "$missing" ] && return 0

    # Packages of another architecture (libusb-1.0-0-dev:arm64) need that
    # architecture in dpkg's list first.
    local arch
    for arch in $(echo "$missing" | tr ' ' '\n' | sed -n 's/.*:\([a-z0-9]*\)$/\1/p' | sort -u); do
        if ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
            [ "$arch" != "$(dpkg --print-architecture)" ]; then
            echo "Adding the $arch architecture to dpkg" >&2
            pellora_as_root dpkg --add-architecture "$arch" || return 1
        fi
    done
    echo "Installing:$missing" >&2
    pellora_apt_update &&
        pellora_apt_get install -y -qq --no-install-recommends $missing
}

# Debian ships no libusb for mingw: its source package is built instead, which
# needs a deb-src entry. Unless one exists, the system's own entry for its
# release (the stanza or line whose suites name VERSION_CODENAME) is copied
# into a file of our own with its type changed to deb-src: the same mirror,
# suites, components and key, whichever they are.
pellora_ensure_deb_src() {
    if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return 0
    fi
    local codename="" entry="" file
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    local list=/etc/apt/sources.list.d/pellora-deb-src.sources
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] && [ -n "$codename" ] || continue
        # deb822: stanzas apart by blank lines; the first enabled one of type
        # deb whose Suites hold the release, printed with Types: deb-src.
        entry=$(awk -v release="$codename" '
            function flush() {
                if (binary && listed && !disabled) { printf "%s", text; found = 1; exit }
                text = ""; binary = listed = disabled = 0
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            tolower($1) == "types:" { for (i = 2; i <= NF; i++) binary = binary || $i == "deb"
                                     text = text "Types: deb-src\n"; next }
            tolower($1) == "suites:" { for (i = 2; i <= NF; i++) listed = listed || $i == release }
            tolower($1) == "enabled:" && tolower($2) == "no" { disabled = 1 }
            { text = text $0 "\n" }
            END { if (!found) flush() }' "$file")
        [ -n "$entry" ] && break
    done
    if [ -z "$entry" ] && [ -n "$codename" ]; then
        list=/etc/apt/sources.list.d/pellora-deb-src.list
        entry=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk -v release="$codename" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i == release) {
                sub(/^deb/, "deb-src"); print; exit } }')
    fi
    if [ -z "$entry" ]; then
        echo "No apt entry for ${codename:-this release} to take a deb-src entry from:" \
            "enable source packages in your apt sources and retry" >&2
        return 1
    fi
    echo "Adding $list for source packages, from the system's own entry" >&2
    printf '%s\n' "$entry" | pellora_as_root tee "$list" >/dev/null
    pellora_apt_update
}

# Configures (once) and builds one build directory: pellora_build DIR [cmake args...]
pellora_build() {
    local dir=$1
    shift
    cmake -S "$PELLORA_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORA_TESTS=ON "$@" >/dev/null &&
        cmake --build "$dir" -j "$(nproc)"
}

# Configures one preset of CMakePresets.json in DIR (its own tree, or another)
# and builds it: pellora_build_preset NAME DIR [cmake args...]
pellora_build_preset() {
    local preset=$1 dir=$2
    shift 2
    (cd "$PELLORA_ROOT" && cmake --preset "$preset" -B "$dir" "$@" >/dev/null) &&
        cmake --build "$dir" -j "$(nproc)"
}
