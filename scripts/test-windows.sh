#!/usr/bin/env bash
# Builds the Windows program and runs its tests under Wine, headless.
#
#   scripts/test-windows.sh [BUILD_DIR]       (default: build-windows/)
#
# Each run makes a fresh Wine prefix (BUILD_DIR/wine-prefix; settings would leak
# between runs otherwise), keeps one wineserver up for the whole run, and runs
# ctest inside one Xvfb session with a Linux pty mapped as the COM port of the
# serial tests. Screenshots of the window, the tray menu, tooltips and a
# balloon land in BUILD_DIR/screenshots/. Prints ctest's summary; the whole
# log (BUILD_DIR/ctest-wine.log) only when something failed.
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko install prompts
export PELLORA_PTY_COM=COM42               # above any port Wine maps by itself
export PELLORA_PTY_MOUSE_COM=COM43         # the serial peer's second line, the mouse's

# Second half, inside xvfb-run: one wineserver, the serial peer, ctest.
if [ "${1:-}" = "--inside-xvfb" ]; then
    build_dir=$2
    export WINEPREFIX=$build_dir/wine-prefix
    log=$build_dir/ctest-wine.log
    peer_pid=""
    finish() {
        [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null
        wineserver -k 2>/dev/null || true  # this prefix's server and programs
    }
    trap finish EXIT
    wineserver -p  # persistent: each test program starts in a fraction of a second
    # Wine's services and desktop process start with the first program and
    # keep running; started by a test they would hold its output pipe open.
    wine cmd /c exit </dev/null >/dev/null 2>&1

    port_file=$build_dir/serial-peer.port
    rm -f "$port_file"
    dosdevice() { echo "$WINEPREFIX/dosdevices/$(echo "$1" | tr 'A-Z' 'a-z')"; }
    python3 "$PELLORA_ROOT/tests/windows/serial_peer.py" \
        "$(dosdevice "$PELLORA_PTY_COM")" "$port_file" "$(dosdevice "$PELLORA_PTY_MOUSE_COM")" &
    peer_pid=$!
    for _ in $(seq 100); do
        [ -s "$port_file" ] && break
        sleep 0.1
    done
    [ -s "$port_file" ] || { echo "the serial peer did not start" >&2; exit 1; }
    export PELLORA_PTY_PEER=127.0.0.1:$(cat "$port_file")

    rm -rf "$build_dir/screenshots"
    mkdir -p "$build_dir/screenshots"
    status=0
    ctest --test-dir "$build_dir" -j "$(nproc)" --output-on-failure >"$log" 2>&1 || status=$?
    exit $status
fi

build_dir=${1:-$PELLORA_ROOT/build-windows}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
export WINEPREFIX=$build_dir/wine-prefix

pellora_setup windows-test

build_log=$build_dir/build-windows.log
if ! "$PELLORA_ROOT/scripts/build-windows.sh" "$build_dir" >"$build_log" 2>&1; then
    cat "$build_log"
    exit 1
fi

# A fresh prefix, made without a display so that no program of it lingers on
# one, then the settings the tests rely on.
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
env -u DISPLAY wine wineboot -i >/dev/null 2>&1
wine regedit /S "Z:$(echo "$PELLORA_ROOT/tests/windows/wine-settings.reg" | tr / '\\')" 2>/dev/null
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    # Debian's Wine does not find its own fonts in a new prefix.
    ln -sf "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/$font"
done
wineserver -w

log=$build_dir/ctest-wine.log
rm -f "$log"
status=0
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    "$0" --inside-xvfb "$build_dir" 2>"$build_dir/xvfb-run.log" || status=$?

for shot in "$build_dir"/screenshots/*.bmp; do
    [ -e "$shot" ] || continue
    /usr/bin/convert "$shot" "${shot%.bmp}.png" 2>/dev/null && rm -f "$shot"
done
if [ "$status" -ne 0 ]; then
    if [ -f "$log" ]; then cat "$log"; else cat "$build_dir/xvfb-run.log"; fi
    echo "Windows tests failed; the Wine prefix is kept in $WINEPREFIX" >&2
    exit "$status"
fi
rm -rf "$WINEPREFIX"  # about 700 MB, and never reused
tail -n 3 "$log"
