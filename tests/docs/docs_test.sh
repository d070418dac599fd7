#!/usr/bin/env bash
# Keeps the documentation's commands honest. Every fenced block of README.md and docs/ is either a `sh`
# block, which this test runs, or marked `<language> illustrative` (synopses with placeholders, commands
# that install packages or rebuild the project). The `sh` blocks of one file run in order as one script
# with `set -euo pipefail`, in a scratch directory, with the freshly built vrmsim and fcctl first on the
# PATH; any failing command fails the test.
#   docs_test.sh <source dir> <build dir>
set -euo pipefail
shopt -s nullglob
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH="$build/tools/fcctl:$build/tools/vrmsim:$PATH"
unset FCSDK_CONFIG FCCTL_HOST FCCTL_USER FCCTL_PASSWORD

status=0
docs=("$src/README.md" "$src"/docs/*.md "$src"/docs/adr/*.md)
for doc in "${docs[@]}"; do
    name=${doc#"$src/"}
    # Unmarked blocks, then the runnable ones (in order) as one script.
    unmarked=$(awk '/^```/ { if (!inside && $0 != "```sh" && $0 !~ / illustrative$/) print FILENAME ":" FNR ": " $0;
                             inside = !inside }' "$doc")
    if [ -n "$unmarked" ]; then
        echo "$unmarked: a block that is neither run (\`\`\`sh) nor marked illustrative"
        status=1
    fi
    script=$work/$(echo "$name" | tr / _).sh
    awk '/^```/ { if (!inside) run = ($0 == "```sh"); inside = !inside; next } inside && run' "$doc" >"$script"
    [ -s "$script" ] || continue
    echo "-- running the commands of $name"
    mkdir -p "$work/run"
    # Background jobs a block leaves behind (a simulator whose block failed early) end with the script.
    if ! (cd "$work/run" && timeout 300 bash -c 'set -euo pipefail; trap "kill \$(jobs -p) 2>/dev/null || true" EXIT; source "$1"' \
            docs "$script" >"$work/out" 2>&1); then
        echo "the commands of $name failed; their output ends with:"
        tail -n 20 "$work/out" | sed 's/^/   /'
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "-- docs test passed"
exit "$status"
