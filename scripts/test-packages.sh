#!/usr/bin/env bash
# Builds every package (scripts/build-packages.sh) and checks them:
#   - the three .deb and the zip carry the version that `pellora --version` prints
#   - each .deb holds its files, for its architecture, and lintian finds no error
#   - the maintainer scripts reload udev only where it runs
#   - the zip holds Pellora.exe and README-Windows.txt with Windows line ends
#   - this machine's .deb installs with dpkg -i, its files arrive, `pellora`
#     (in Japanese too, from its catalogue), `man pellora` and `man -L ja
#     pellora` work, and dpkg -r and dpkg -P take every file away again
#
#   scripts/test-packages.sh [DIST]        (default: dist/)
#
# Needs root (dpkg -i), and refuses to run where pellora is installed already.
# Ends with a line "N passed, N failed".
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

dist=${1:-$PELLORA_ROOT/dist}
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
work=$(mktemp -d)
installed_here=no
finish() {
    # A run that stopped half-way leaves no pellora installed behind it.
    if [ "$installed_here" = yes ] && dpkg-query -W -f='${Status}' pellora 2>/dev/null | grep -q installed; then
        dpkg -P pellora >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap finish EXIT

if [ "$(id -u)" -ne 0 ]; then
    echo "test-packages.sh installs a package: run it as root" >&2
    exit 1
fi
if dpkg-query -W -f='${Status}' pellora 2>/dev/null | grep -q "installed"; then
    echo "pellora is installed on this machine: remove it (dpkg -P pellora) before this test" >&2
    exit 1
fi

log=$dist/build-packages.log
if ! "$PELLORA_ROOT/scripts/build-packages.sh" "$dist" >"$log" 2>&1; then
    cat "$log"
    exit 1
fi

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: one counted check
    local what=$1
    shift
    if "$@" >"$work/check.out" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what" >&2
        sed 's/^/  /' "$work/check.out" >&2
    fi
}

version=$("$PELLORA_ROOT/build/src/pellora" --version | sed -n 's/^pellora //p')
native=$(dpkg --print-architecture)
echo "packages of pellora $version in $dist:"
(cd "$dist" && ls -l pellora_*.deb Pellora-*-win64.zip | awk '{print "  " $5 " bytes  " $9}')

# The files every .deb must hold, and nothing else; of them, the conffiles,
# which a remove leaves and a purge takes.
expected_files="/etc/default/pellora
/usr/bin/pellora
/usr/lib/systemd/system/pellora@.service
/usr/lib/systemd/user/pellora@.service
/usr/lib/sysusers.d/pellora.conf
/usr/lib/udev/rules.d/70-pellora.rules
/usr/share/doc/pellora/README.ja.md
/usr/share/doc/pellora/README.md
/usr/share/doc/pellora/changelog.gz
/usr/share/doc/pellora/copyright
/usr/share/doc/pellora/docs/images/wiring.ja.svg
/usr/share/doc/pellora/docs/images/wiring.svg
/usr/share/doc/pellora/docs/ja/keyboards-and-keymaps.md
/usr/share/doc/pellora/docs/ja/linux.md
/usr/share/doc/pellora/docs/ja/mouse.md
/usr/share/doc/pellora/docs/ja/raspberry-pi.md
/usr/share/doc/pellora/docs/ja/service.md
/usr/share/doc/pellora/docs/ja/sharing.md
/usr/share/doc/pellora/docs/ja/windows.md
/usr/share/doc/pellora/docs/ja/wiring.md
/usr/share/doc/pellora/docs/keyboards-and-keymaps.md
/usr/share/doc/pellora/docs/linux.md
/usr/share/doc/pellora/docs/mouse.md
/usr/share/doc/pellora/docs/raspberry-pi.md
/usr/share/doc/pellora/docs/service.md
/usr/share/doc/pellora/docs/sharing.md
/usr/share/doc/pellora/docs/windows.md
/usr/share/doc/pellora/docs/wiring.md
/usr/share/locale/ja/LC_MESSAGES/pellora.mo
/usr/share/man/ja/man1/pellora.1.gz
/usr/share/man/man1/pellora.1.gz"
conffiles="/etc/default/pellora"

deb_files() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed -n 's|^\./|/|; /[^/]$/p' | sort; }
deb_file() { dpkg-deb --fsys-tarfile "$1" | tar -xO ".$2"; }
field_is() { [ "$(dpkg-deb -f "$1" "$2")" = "$3" ] || { echo "$2: $(dpkg-deb -f "$1" "$2")"; return 1; }; }
depends_on_its_libraries() {
    local depends
    depends=$(dpkg-deb -f "$1" Depends)
    echo "$depends"
    [[ $depends =~ libusb-1\.0-0\ \(\>=\ [^\)]+\) ]] && [[ $depends =~ libc6\ \(\>= ]] &&
        [[ $depends =~ (^|\ )libsystemd0(,|\ |$) ]] && [[ $depends =~ libudev1\ \(\>= ]] &&
        [[ $depends =~ libevdev2\ \(\>= ]]
}
conffiles_are() { diff <(echo "$2") <(dpkg-deb --ctrl-tarfile "$1" | tar -xO ./conffiles); }
# `file` says of the program: a stripped executable for this machine.
program_is_stripped_for() {
    local kind
    kind=$(deb_file "$1" /usr/bin/pellora | file -b -)
    echo "$kind"
    [[ $kind == *"$2"* && $kind == *stripped* && $kind != *"not stripped"* ]]
}
unit_starts_usr_bin_pellora() {
    # Read to the end: grep -q would leave as soon as it matched, and tar,
    # still writing a unit that spans two of its blocks, die of SIGPIPE.
    deb_file "$1" /usr/lib/systemd/system/pellora@.service |
        grep -x 'ExecStart=/usr/bin/pellora $PELLORA_OPTIONS /dev/%I' >/dev/null
}
lintian_clean() {
    local status=0
    lintian --fail-on error "$1" >"$work/lintian.out" 2>"$work/lintian.err" || status=$?
    grep -v '^running with root privileges' "$work/lintian.err" >>"$work/lintian.out" || true
    cat "$work/lintian.out"
    [ "$status" -eq 0 ] && ! grep -q '^E: ' "$work/lintian.out"
}

for arch in "$native" arm64 armhf; do
    deb=$dist/pellora_${version}_${arch}.deb
    check "$arch: pellora_${version}_${arch}.deb exists" test -f "$deb"
    [ -f "$deb" ] || continue
    check "$arch: Version is $version" field_is "$deb" Version "$version"
    check "$arch: Architecture is $arch" field_is "$deb" Architecture "$arch"
    check "$arch: Depends names libusb-1.0-0, libsystemd0, libudev1, libevdev2 and libc6" depends_on_its_libraries "$deb"
    check "$arch: holds exactly its files" diff <(echo "$expected_files") <(deb_files "$deb")
    check "$arch: its conffiles are $conffiles" conffiles_are "$deb" "$conffiles"
    case $arch in
    amd64) machine="x86-64" ;;
    arm64) machine="ARM aarch64" ;;
    armhf) machine="ARM, EABI5" ;;
    *) machine="" ;;
    esac
    check "$arch: the program is a stripped $machine executable" program_is_stripped_for "$deb" "$machine"
    check "$arch: the unit starts /usr/bin/pellora" unit_starts_usr_bin_pellora "$deb"
    check "$arch: lintian finds no error" lintian_clean "$deb"
    echo "lintian, $arch:"
    sed 's/^/  /' "$work/lintian.out"
done

# The maintainer scripts, run with a stand-in udevadm: where udev answers they
# reload its rules and re-trigger the keyboard; where it does not (a chroot, a
# container) they call nothing but the ping.
deb=$dist/pellora_${version}_${native}.deb
dpkg-deb -e "$deb" "$work/control"
mkdir -p "$work/bin"
cat >"$work/bin/udevadm" <<'STUB'
#!/bin/sh
echo "udevadm $*" >>"$PELLORA_UDEVADM_LOG"
[ "$1 $2" != "control --ping" ] || [ "$PELLORA_UDEV_RUNS" = yes ]
STUB
chmod +x "$work/bin/udevadm"
run_script() {  # run_script UDEV_RUNS SCRIPT ARGS...: the udevadm calls it made
    local runs=$1
    shift
    rm -f "$work/udevadm.log"
    touch "$work/udevadm.log"
    PATH="$work/bin:$PATH" PELLORA_UDEVADM_LOG="$work/udevadm.log" PELLORA_UDEV_RUNS=$runs "$@" >/dev/null
    cat "$work/udevadm.log"
}
check "postinst with udev running reloads the rules and triggers the keyboard" \
    diff <(run_script yes "$work/control/postinst" configure) - <<'CALLS'
udevadm control --ping
udevadm control --reload-rules
udevadm trigger --subsystem-match=usb --attr-match=idVendor=33dd --attr-match=idProduct=0011
CALLS
check "postinst without udev only asks whether it runs" \
    diff <(run_script no "$work/control/postinst" configure) <(echo "udevadm control --ping")
check "postrm with udev running reloads the rules" \
    diff <(run_script yes "$work/control/postrm" remove) \
    <(printf 'udevadm control --ping\nudevadm control --reload-rules\n')
check "postrm without udev only asks whether it runs" \
    diff <(run_script no "$work/control/postrm" remove) <(echo "udevadm control --ping")

# dpkg, waiting while another apt or dpkg run holds its lock.
dpkg_waiting() {
    local try
    for try in $(seq 120); do
        if dpkg "$@" >"$work/dpkg.out" 2>&1; then
            return 0
        fi
        grep -q "lock" "$work/dpkg.out" || { cat "$work/dpkg.out"; return 1; }
        sleep 5
    done
    cat "$work/dpkg.out"
    return 1
}
all_present() { local f; for f in $expected_files; do [ -e "$f" ] || { echo "missing: $f"; return 1; }; done; }
all_absent() { local f; for f in $1; do [ ! -e "$f" ] || { echo "left: $f"; return 1; }; done; }
all_but_conffiles_absent() { all_absent "$(grep -vxF -f <(echo "$conffiles") <<<"$expected_files")"; }
conffiles_kept() { local f; for f in $conffiles; do [ -e "$f" ] || { echo "gone: $f"; return 1; }; done; }

installed_here=yes
check "dpkg -i installs pellora_${version}_${native}.deb" dpkg_waiting -i "$deb"
check "its files arrive" all_present
check "dpkg lists them as pellora's" \
    diff <(echo "$expected_files") <(dpkg -L pellora | grep -Fx -f <(echo "$expected_files") | sort)
installed_version_is() { [ "$(/usr/bin/pellora --version)" = "pellora $version" ]; }
man_finds_the_page() { [ "$(man -w pellora)" = /usr/share/man/man1/pellora.1.gz ]; }
man_finds_the_japanese_page() { [ "$(man -L ja -w pellora)" = /usr/share/man/ja/man1/pellora.1.gz ]; }
# The installed program finds its installed catalogue: Japanese under a
# Japanese locale (which set-up makes), English under C.
speaks_japanese() {
    local help
    help=$(env -u LANGUAGE LC_ALL=ja_JP.UTF-8 /usr/bin/pellora --help | head -1)
    echo "$help"
    [[ $help == "使い方: pellora "* ]] && [[ $(LC_ALL=C /usr/bin/pellora --help | head -1) == "usage: pellora "* ]]
}
check "pellora --version from /usr/bin" installed_version_is
check "man pellora finds the page" man_finds_the_page
check "man -L ja pellora finds the Japanese page" man_finds_the_japanese_page
check "pellora speaks Japanese under a Japanese locale from its catalogue" speaks_japanese
# The service's user, in the serial groups, and the keyboard's group.
service_user_made() { id -nG pellora | tr ' ' '\n' | sort | tr '\n' ' ' | grep -qx 'dialout pellora uucp '; }
check "the service's user pellora is made, in groups dialout and uucp" service_user_made
check "dpkg -r removes pellora" dpkg_waiting -r pellora
check "its files leave, but for its conffiles" all_but_conffiles_absent
check "its conffiles stay until the purge" conffiles_kept
check "dpkg -P purges what is left of it" dpkg_waiting -P pellora
check "its conffiles leave with the purge" all_absent "$conffiles"
not_known_to_dpkg() { ! dpkg-query -W -f='${Status}' pellora 2>/dev/null | grep -q installed; }
check "dpkg knows pellora no more" not_known_to_dpkg

# The Windows zip: the two files, the text with CRLF line ends and the version.
zip=$dist/Pellora-${version}-win64.zip
check "Pellora-${version}-win64.zip exists" test -f "$zip"
if [ -f "$zip" ]; then
    check "the zip holds Pellora.exe and README-Windows.txt" \
        diff <(printf 'Pellora.exe\nREADME-Windows.txt\n') <(cmake -E tar tf "$zip" | sort)
    mkdir -p "$work/zip"
    (cd "$work/zip" && cmake -E tar xf "$zip")
    readme=$work/zip/README-Windows.txt
    windows_gui_program() { file -b "$1" | grep -q 'PE32+ executable (GUI) x86-64'; }
    # Not empty, no line without CR before its LF, no bare LF line.
    crlf_lines_only() { [ -s "$1" ] && ! grep -q $'[^\r]$' "$1" && ! grep -qx '' "$1"; }
    check "Pellora.exe is a Windows program" windows_gui_program "$work/zip/Pellora.exe"
    check "README-Windows.txt ends every line with CRLF" crlf_lines_only "$readme"
    check "README-Windows.txt names version $version" grep -q "^Pellora $version for Windows"$'\r'"\$" "$readme"
fi

echo "packages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
