#!/usr/bin/env bash
# Installs the Debian packages the build (and, with --tests, the test suite) needs,
# skipping the whole step when everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev fonts-liberation)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=(poppler-utils finger fingerd socat python3-aiosmtpd)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
