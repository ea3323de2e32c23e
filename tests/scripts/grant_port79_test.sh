#!/usr/bin/env bash
# Runs scripts/grant-port79.sh against stand-ins for id, getcap, setcap and
# sudo, as CI runs it (CI=true, no standard input): what it runs and says.
set -euo pipefail
script=$1
start=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
if ((start <= 79)); then
    echo "Skipped: every user may listen on port 79 here (ip_unprivileged_port_start is $start)"
    exit 0
fi
source "$(dirname "$0")/standins.sh"
stub getcap <<'STUB'
[[ -f "$(dirname "$0")/has-cap" ]] && echo "$1 cap_net_bind_service=ep"
exit 0
STUB
stub setcap <<'STUB'
echo "setcap $*" >>"$(dirname "$0")/calls"
STUB
stub sudo <<'STUB'
echo "sudo $*" >>"$(dirname "$0")/calls"
[[ -f "$(dirname "$0")/refuse" ]] && exit 1
while [[ "$1" == -* ]]; do shift; done
exec "$@"
STUB

# run NAME UID STATE EXPECTED_CALLS SAID (STATE: has-cap, refuse or none)
run() {
    local name=$1 uid=$2 state=$3 expected=$4 said=$5
    echo "$uid" >"$bin/uid"
    rm -f "$bin/calls" "$bin/has-cap" "$bin/refuse"
    [[ "$state" != none ]] && touch "$bin/$state"
    local status=0 output
    output=$(PATH="$bin:$PATH" CI=true bash "$script" build/finger-quobix 2>&1 </dev/null) || status=$?
    local calls
    calls=$(cat "$bin/calls" 2>/dev/null || true)
    if [[ $status -ne 0 || "$calls" != "$expected" || "$output" != *"$said"* ]]; then
        printf 'FAIL %s: status %s\n  calls: %s\n  said: %s\n' "$name" "$status" "$calls" "$output"
        failures=$((failures + 1))
    else
        echo "PASS $name"
    fi
}

run "user: says what and why, sudo asks for no password" 1000 none \
    "sudo -n setcap cap_net_bind_service=+ep build/finger-quobix
setcap cap_net_bind_service=+ep build/finger-quobix" "so its finger server can listen on port 79"
run "sudo refused: the start goes on" 1000 refuse \
    "sudo -n setcap cap_net_bind_service=+ep build/finger-quobix" "Not given: the program starts"
run "root: no sudo" 0 none "setcap cap_net_bind_service=+ep build/finger-quobix" ""
run "capability there: nothing runs" 1000 has-cap "" ""
exit $((failures > 0))
