#!/usr/bin/env bash
# ./run.sh without a desktop session: one line, a failure status, nothing built.
set -euo pipefail
status=0
said=$(bash "$1" 2>&1 </dev/null) || status=$?
[[ $status -eq 1 ]] || { echo "FAIL: status $status: $said"; exit 1; }
[[ "$said" == "Finger Quobix needs a desktop session"* && "$said" != *$'\n'* ]] || { echo "FAIL: said: $said"; exit 1; }
echo PASS
