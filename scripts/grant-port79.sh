#!/usr/bin/env bash
# Gives a built program the right to listen on the finger port (79, a
# privileged port), as the Debian package's postinst does. Never stops the
# start: without the right the program runs, only its finger server cannot listen.
set -uo pipefail
binary=$1

start=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
((start <= 79)) && exit 0
getcap "$binary" 2>/dev/null | grep -q cap_net_bind_service && exit 0
if ! command -v setcap >/dev/null; then
    echo "setcap is missing (package libcap2-bin): the finger server cannot listen on port 79." >&2
    exit 0
fi
command=(setcap cap_net_bind_service=+ep "$binary")
if [[ $(id -u) -ne 0 ]]; then
    echo "Giving $binary the cap_net_bind_service capability, so its finger server can listen on port 79" \
         "(a privileged port) without running as root: sudo ${command[*]}" >&2
    sudo=(sudo)
    # Nobody can type a password in CI or without a terminal: ask nothing there.
    if [[ -n "${CI:-}" || ! -t 0 ]]; then
        sudo+=(-n)
    fi
    command=("${sudo[@]}" "${command[@]}")
fi
if ! "${command[@]}"; then
    echo "Not given: the program starts, but its finger server cannot listen on port 79." >&2
fi
exit 0
