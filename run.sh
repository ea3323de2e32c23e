#!/usr/bin/env bash
# Installs what is missing, builds the program (tests and benchmarks are ./test.sh's) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "Finger Quobix needs a desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    exit 1
fi
scripts/install-deps.sh
scripts/build.sh finger-quobix
# A new build is a new file without the capability, so this asks again after each one that changed it.
scripts/grant-port79.sh build/finger-quobix
exec build/finger-quobix "$@"
