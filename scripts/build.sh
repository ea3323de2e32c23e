#!/usr/bin/env bash
# Configures (once) and builds into build/: the targets named, or everything.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ! -f build/build.ninja ]]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if [[ $# -gt 0 ]]; then
    cmake --build build --target "$@"
else
    cmake --build build
fi
