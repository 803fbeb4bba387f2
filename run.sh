#!/usr/bin/env bash
# Installs what is missing, builds, and runs Pellora on the serial port PORT.
#   ./run.sh ttyUSB0        (or a full path: ./run.sh /dev/ttyUSB0)
set -euo pipefail
PELLORA_ROOT=$(cd "$(dirname "$0")" && pwd)
. "$PELLORA_ROOT/scripts/setup.sh"

if [ $# -lt 1 ]; then
    echo "usage: $0 PORT   (for example ttyUSB0 or /dev/ttyUSB0)" >&2
    exit 2
fi
pellora_setup build
pellora_build "$PELLORA_ROOT/build-run" -DPELLORA_TESTS=OFF
exec "$PELLORA_ROOT/build-run/src/pellora" "$@"
