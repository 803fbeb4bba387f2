# Sourced by run.sh, test.sh and the scripts under scripts/: the one place that
# installs what they need on Debian/Ubuntu, and names what is missing anywhere
# else.
#
#   pellora_setup GROUP...     install the missing packages of these groups:
#     build          compiler, CMake, libusb, libsystemd, libudev, gettext
#     test           build, plus GoogleTest, the USB emulator, clang (fuzzers), man,
#                    Python, and the Japanese locale (pellora_locale)
#     windows-build  mingw-w64 and what builds libusb for Windows from source
#     windows-test   Wine, Xvfb and the fonts of the Windows tests, and the
#                    Japanese locale (pellora_locale)
#     arm            the arm64 and armhf cross compilers and qemu-user, and
#                    the targets' sysroots in build-sysroot/ (pellora_sysroot)
#     packages       what makes and checks the .deb packages (dpkg-shlibdeps, lintian)

# The tree these functions work on: the caller's, or the one this file is in.
: "${PELLORA_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"

# libsystemd-dev: sd_notify and the watchdog of the service; libudev-dev: --list;
# gettext: msgfmt builds the catalogues of translated messages (po/).
PELLORA_PACKAGES_build="g++ cmake make pkg-config libusb-1.0-0-dev libsystemd-dev libudev-dev libevdev-dev gettext"
# clang and libclang-rt-dev (its sanitizer and libFuzzer runtimes): the fuzzers.
# man-db and groff-base: the manual pages' tests; systemd: systemd-analyze rates
# the service unit's sandbox; python3: the documentation's tests and its
# wiring picture; locales: the Japanese locale that a test runs pellora in.
PELLORA_PACKAGES_test="libgtest-dev libgmock-dev umockdev libumockdev-dev clang libclang-rt-dev man-db groff-base systemd python3 locales"
# The POSIX thread model: the win32 one has no std::thread/std::mutex.
# dpkg-dev unpacks the libusb source package, patch applies our fixes to it;
# googletest is cross-built from source.
PELLORA_PACKAGES_windows_build="g++-mingw-w64-x86-64-posix cmake make pkg-config dpkg-dev patch googletest"
# Wine and fonts that render the dialog's Japanese text; Xvfb for the windows;
# ImageMagick turns the screenshots into PNG; python3 runs the serial peer;
# xdotool types and moves on the screen for the shared keyboard's tests;
# locales: the Japanese locale, from which Wine takes a Japanese user interface.
PELLORA_PACKAGES_windows_test="wine wine64 fonts-wine fonts-ipafont-gothic xvfb xauth xdotool imagemagick python3 locales"
# The target's own libraries come from a sysroot of Debian packages
# (PELLORA_SYSROOT_PACKAGES below), not from packages installed here.
PELLORA_PACKAGES_arm="g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user googletest"
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

# What a group's packages are for, to say which stage lacks one.
pellora_stage_of() {
    case $1 in
    build) echo "the build" ;;
    test) echo "the tests" ;;
    windows-build) echo "the Windows build" ;;
    windows-test) echo "the Windows tests under Wine" ;;
    arm) echo "the ARM builds" ;;
    packages) echo "the packages" ;;
    esac
}

pellora_missing_packages() {
    local pkg missing=""
    for pkg in "$@"; do
        if [[ $(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null) != *"install ok installed"* ]]; then
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
    pellora_update_lists pellora_apt_get
}

# The same for any apt-get command line: pellora_update_lists APT_GET [ARGS...]
pellora_update_lists() {
    local try
    for try in 1 2 3; do
        "$@" update -qq && return 0
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
    if [ -n "$missing" ]; then
        echo "Installing:$missing" >&2
        pellora_apt_update || return 1
        # Each package apt has no version of is named with the stage that
        # needs it, before anything is installed or built.
        local pkg policy unavailable=0
        for pkg in $missing; do
            # Read whole before grep: grep -q stops at the match, and under
            # pipefail (test.sh) apt-cache, still writing, would die of SIGPIPE
            # and turn every package into one apt has no version of.
            policy=$(apt-cache policy "$pkg" 2>/dev/null) || policy=
            grep -q '^ *Candidate: [^(]' <<<"$policy" && continue
            for group in "${@:-build}"; do
                case " $(pellora_packages_of "$group") " in
                *" $pkg "*) echo "Cannot install $pkg, needed by $(pellora_stage_of "$group"):" \
                    "apt's package lists have no version of it" >&2 ;;
                esac
            done
            unavailable=1
        done
        [ "$unavailable" -eq 0 ] || return 1
        pellora_apt_get install -y -qq --no-install-recommends $missing || {
            echo "Installing the packages of $*: apt-get failed (above)" >&2
            return 1
        }
    fi
    case " ${*:-build} " in
    *" test "* | *" windows-test "*) pellora_locale ja_JP.UTF-8 || return 1 ;;
    esac
    case " ${*:-build} " in
    *" arm "*) pellora_sysroot arm64 && pellora_sysroot armhf ;;
    esac
}

# Makes the locale NAME (ja_JP.UTF-8) unless it is there: the line in
# /etc/locale.gen enabled (added where the file lacks it), then locale-gen,
# which makes every locale enabled there, so a later locale-gen keeps it.
pellora_locale() {
    local name=$1 charset=${1#*.}
    local wanted="${name%%.*}.$(tr 'A-Z' 'a-z' <<<"${charset//-/}")"
    # grep reads the whole list: with -q it would leave at the first match,
    # and under pipefail locale, killed by SIGPIPE, would fail the test.
    if locale -a 2>/dev/null | grep -ixF "$wanted" >/dev/null; then
        return 0
    fi
    if ! command -v locale-gen >/dev/null 2>&1; then
        echo "Cannot make the locale $name for the tests: locale-gen is missing" \
            "(Debian's package locales)" >&2
        return 1
    fi
    echo "Making the locale $name" >&2
    if grep -qE "^# *$name $charset\$" /etc/locale.gen 2>/dev/null; then
        pellora_as_root sed -i -E "s/^# *($name $charset)\$/\1/" /etc/locale.gen
    elif ! grep -qE "^$name $charset\$" /etc/locale.gen 2>/dev/null; then
        echo "$name $charset" | pellora_as_root tee -a /etc/locale.gen >/dev/null
    fi
    pellora_as_root locale-gen >/dev/null
}

# The ARM builds' sysroots, one per target architecture in
# build-sysroot/ARCH/root: the target's C and C++ run-time libraries (qemu-user
# runs the tests with them), and the libraries pellora links with and their
# headers. They are Debian packages of that architecture, fetched through the
# system's own apt sources (apt-get download, with an index of their own) and
# unpacked with dpkg-deb, so nothing of another architecture is installed here
# and no foreign architecture is added to dpkg: downloading needs none of the
# co-installability that multiarch packages need, which a mirror serving a
# foreign index half-synced can break. The set is what apt resolves from these
# packages' own Depends.
PELLORA_SYSROOT_PACKAGES="libc6 libstdc++6 libgcc-s1
 libusb-1.0-0-dev libsystemd-dev libudev-dev libevdev-dev"

# Makes build-sysroot/ARCH unless it holds the set of PELLORA_SYSROOT_PACKAGES
# already (a second run fetches nothing). Beside the files, root/var/lib/dpkg
# is a dpkg database of the unpacked packages (status, file lists, symbols and
# shlibs files), from which dpkg-shlibdeps computes a cross-built .deb's
# Depends. Runs as the calling user: nothing here needs root.
pellora_sysroot() {
    local arch=$1
    local dir=$PELLORA_ROOT/build-sysroot/$arch
    local stamp="$PELLORA_SYSROOT_PACKAGES in $dir"
    if [ -f "$dir/root/.packages" ] && [ "$(cat "$dir/root/.packages")" = "$stamp" ]; then
        return 0
    fi
    local start=$SECONDS
    echo "Making the $arch sysroot in $dir" >&2
    local state=$dir/apt
    mkdir -p "$state/lists/partial" "$state/cache" "$dir/debs"
    : >"$state/status"
    local apt=(apt-get -q -o APT::Architecture="$arch" -o APT::Architectures="$arch"
        -o Dir::State="$state" -o Dir::State::status="$state/status" -o Dir::Cache="$state/cache"
        -o APT::Sandbox::User="$(id -un)" -o APT::Install-Recommends=false)
    # One try: an index the mirror serves half-synced (bookworm-security's
    # armhf one, for days in December 2026) leaves the others, and a sysroot
    # of the release's own versions builds and tests as well.
    "${apt[@]}" update >"$state/update.log" 2>&1 || true
    if ! compgen -G "$state/lists/*binary-${arch}_Packages*" >/dev/null; then
        cat "$state/update.log" >&2
        echo "Cannot make the $arch sysroot for the ARM builds: the system's apt sources" \
            "give no package index for $arch (Ubuntu keeps ARM packages in its ports archive)" >&2
        return 1
    fi
    # What apt would install on an empty system of that architecture.
    local plan wanted
    if ! plan=$("${apt[@]}" -s install $PELLORA_SYSROOT_PACKAGES 2>&1); then
        echo "$plan" | grep -E '^(E:| )' >&2
        echo "Cannot make the $arch sysroot for the ARM builds: apt cannot resolve" \
            "$PELLORA_SYSROOT_PACKAGES (above)" >&2
        return 1
    fi
    wanted=$(echo "$plan" | sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1=\2/p')
    rm -rf "$dir/debs" "$dir/root"
    mkdir -p "$dir/debs"
    # shellcheck disable=SC2086
    if ! (cd "$dir/debs" && "${apt[@]}" download $wanted) >"$state/download.log" 2>&1; then
        cat "$state/download.log" >&2
        echo "Cannot make the $arch sysroot for the ARM builds: a package could not be downloaded (above)" >&2
        return 1
    fi
    local admin=$dir/root/var/lib/dpkg deb name key control
    mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
    printf '%s\n%s\n' "$(dpkg --print-architecture)" "$arch" >"$admin/arch"
    echo 1 >"$admin/info/format"  # info files named PACKAGE:ARCH where Multi-Arch: same
    control=$(mktemp -d)
    for deb in "$dir"/debs/*.deb; do
        dpkg-deb -x "$deb" "$dir/root"
        name=$(dpkg-deb -f "$deb" Package)
        key=$name
        [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] && key=$name:$arch
        # dpkg-shlibdeps finds a library under the sysroot and asks dpkg which
        # package holds that path: the lists name the files where they lie.
        dpkg-deb -c "$deb" | awk -v root="$dir/root" '{ p = $6; sub(/^\./, "", p); sub(/\/$/, "", p)
            print (p == "" ? root : root p) }' >"$admin/info/$key.list"
        rm -rf "$control" && mkdir -p "$control"
        dpkg-deb -e "$deb" "$control"
        for file in symbols shlibs; do
            [ -f "$control/$file" ] && cp "$control/$file" "$admin/info/$key.$file"
        done
        { dpkg-deb -f "$deb" | sed '1a Status: install ok installed'; echo; } >>"$admin/status"
    done
    rm -rf "$control" "$dir/debs"
    # The loader's cache, empty: qemu-user would otherwise hand the loader the
    # host's /etc/ld.so.cache, which on a machine with multiarch packages
    # names their libraries, of other revisions.
    mkdir -p "$dir/root/etc" && : >"$dir/root/etc/ld.so.cache"
    echo "$stamp" >"$dir/root/.packages"
    echo "The $arch sysroot: $(echo "$wanted" | wc -w) packages, $(du -sh "$dir/root" | cut -f1)," \
        "made in $((SECONDS - start)) s" >&2
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
