#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-ins for id, sudo, dpkg-query and
# apt-get, and checks what would have been run, as CI runs it: CI=true and no
# standard input.
set -euo pipefail
script=$1
source "$(dirname "$0")/standins.sh"
stub dpkg-query <<'STUB'
[[ -f "$(dirname "$0")/all-installed" ]] || exit 1
printf 'install ok installed'
STUB
# Like the real sudo: options first, and exported variables do not get through.
stub sudo <<'STUB'
echo "sudo $*" >>"$(dirname "$0")/calls"
while [[ "$1" == -* ]]; do shift; done
exec env -i PATH="$PATH" "$@"
STUB
stub apt-get <<'STUB'
echo "apt-get DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-unset} $1" >>"$(dirname "$0")/calls"
STUB

# run NAME UID ALL_INSTALLED EXPECTED_CALLS
run() {
    local name=$1 uid=$2 installed=$3 expected=$4
    echo "$uid" >"$bin/uid"
    rm -f "$bin/calls" "$bin/all-installed"
    [[ "$installed" == yes ]] && touch "$bin/all-installed"
    if ! PATH="$bin:$PATH" CI=true bash "$script" --tests </dev/null >/dev/null 2>"$work/stderr"; then
        echo "FAIL $name: the script failed: $(cat "$work/stderr")"
        failures=$((failures + 1))
        return
    fi
    local calls
    calls=$(cat "$bin/calls" 2>/dev/null || true)
    if [[ "$calls" != "$expected" ]]; then
        printf 'FAIL %s\n  expected:\n%s\n  actual:\n%s\n' "$name" "$expected" "$calls"
        failures=$((failures + 1))
    else
        echo "PASS $name"
    fi
}

run "user in CI: sudo never waits for a password, apt never asks" 1000 no \
"sudo -n env DEBIAN_FRONTEND=noninteractive apt-get update -qq
apt-get DEBIAN_FRONTEND=noninteractive update
sudo -n env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends cmake ninja-build g++ qt6-base-dev libqt6svg6 fonts-liberation qt6-wayland libcap2-bin poppler-utils finger fingerd socat python3-aiosmtpd xvfb xauth x11-utils openbox trayer xdotool xclip dbus-x11 cups printer-driver-cups-pdf at-spi2-core python3-pyatspi xdg-utils desktop-file-utils appstream sway wtype wl-clipboard grim dbus-daemon libglib2.0-bin dpkg-dev file lintian
apt-get DEBIAN_FRONTEND=noninteractive install"
run "root: no sudo" 0 no \
"apt-get DEBIAN_FRONTEND=noninteractive update
apt-get DEBIAN_FRONTEND=noninteractive install"
run "everything installed: nothing runs" 1000 yes ""
exit $((failures > 0))
