# Sourced by the script tests: a folder $bin of stand-ins for the commands a
# script runs, to go first on its PATH, removed again on exit. Stand-ins note
# their calls in $bin/calls; files in $bin steer what they answer.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"
failures=0

# stub NAME: a stand-in for NAME, its body read from standard input.
stub() {
    { echo '#!/usr/bin/env bash'; cat; } >"$bin/$1"
    chmod +x "$bin/$1"
}

# id -u answers the number in $bin/uid.
stub id <<'STUB'
[[ "${1:-}" == -u ]] && { cat "$(dirname "$0")/uid"; exit 0; }
exec /usr/bin/id "$@"
STUB
