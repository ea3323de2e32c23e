#!/usr/bin/env bash
# Installs the Debian packages the build (and, with --tests, the test suite) needs,
# skipping the whole step when everything is already there.
set -euo pipefail

# qt6-wayland: a Wayland session runs the program natively, not through XWayland.
# libcap2-bin: setcap, so ./run.sh can let the built program listen on port 79.
packages=(cmake ninja-build g++ qt6-base-dev libqt6svg6 fonts-liberation qt6-wayland libcap2-bin)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=(poppler-utils finger fingerd socat python3-aiosmtpd)
    # A real desktop for the tests that need one: X server, window manager, tray,
    # input and selections, a PDF printer, the accessibility bus, the launcher,
    # and the validators of the installed desktop files.
    packages+=(xvfb xauth x11-utils openbox trayer xdotool xclip dbus-x11
               cups printer-driver-cups-pdf at-spi2-core python3-pyatspi xdg-utils
               desktop-file-utils appstream)
    # A Wayland session and status-notifier trays: the compositor, keys, selections,
    # screenshots, the session bus and its command-line client.
    packages+=(sway wtype wl-clipboard grim dbus-daemon libglib2.0-bin)
    # The Debian package test: cpack's library scan (dpkg-shlibdeps), its file check and lintian.
    packages+=(dpkg-dev file lintian)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
    # In CI nobody can type a password: fail at once instead of waiting for one.
    if [[ -n "${CI:-}" ]]; then
        sudo+=(-n)
    fi
fi
echo "Installing: ${missing[*]}"
# Passed on the command line: sudo drops exported variables, and a package
# that asks a question would then wait on a terminal nobody watches.
apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
"${sudo[@]}" "${apt[@]}" update -qq
"${sudo[@]}" "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
