#!/bin/sh
# Greps the library's log files of the simulator tests (LOG_DIR/*.log) for secrets: the simulator's
# password, its X-Auth-Key value (sha256 hex), every session token the simulator issued
# (LOG_DIR/issued-tokens.txt, one per line) and any X-Auth-Key or X-Auth-Token header shown with a
# value other than "***".
# Usage: secret_grep.sh LOG_DIR PASSWORD KEY
set -u
dir=$1
password=$2
key=$3
set -- "$dir"/*.log
if [ ! -e "$1" ]; then
    echo "secret_grep: no log files in $dir: the tests that write them did not run" >&2
    exit 1
fi
patterns=$(mktemp)
trap 'rm -f "$patterns"' EXIT
printf '%s\n%s\n' "$password" "$key" >"$patterns"
if [ -f "$dir/issued-tokens.txt" ]; then
    grep -E '^[0-9A-Fa-f]+$' "$dir/issued-tokens.txt" >>"$patterns"
fi
status=0
if grep -n -F -f "$patterns" "$@"; then
    echo "secret_grep: secrets found in the lines above" >&2
    status=1
fi
if grep -n -i -E 'x-auth-(key|token) *: *[^* "]' "$@"; then
    echo "secret_grep: unmasked secret headers in the lines above" >&2
    status=1
fi
if [ $status -eq 0 ]; then
    echo "secret_grep: $# log files, $(cat "$@" | wc -l) lines, $(wc -l <"$patterns") secrets: none found"
fi
exit $status
