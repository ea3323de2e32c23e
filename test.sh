#!/usr/bin/env bash
# Installs what is missing (test peers included), builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --tests
scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j2 "$@"
