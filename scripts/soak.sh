#!/usr/bin/env bash
# Soak: the concurrency load test (sixteen wrappers on sixteen threads reading the inventory and running
# full and incremental backups against one in-process simulator over loopback TLS) for a longer, bounded
# time. Prints the requests done, the failures and the resident memory at the start, while running and at
# the end; exits non-zero on any failure.
#
#   scripts/soak.sh [--seconds N] [--rounds N] [--build-dir DIR]
#
# Defaults: 120 seconds, at most 100000 rounds per thread, build directory "build" (configured and the
# test target built when missing).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=120
rounds=100000
build=build
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --build-dir) build=$2; shift 2 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) echo "soak.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
case "$seconds$rounds" in
    *[!0-9]*) echo "soak.sh: --seconds and --rounds take whole numbers" >&2; exit 2 ;;
esac

if [ ! -x "$build/tests/sim/fcsdk_concurrency_tests" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCSDK_WERROR=ON >/dev/null
    cmake --build "$build" -j"${FCSDK_JOBS:-2}" --target fcsdk_concurrency_tests
fi

# In a ThreadSanitizer build, ignore only the prebuilt cpp-httplib (see the file); other builds ignore it.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1} suppressions=$(pwd)/tests/sim/tsan-suppressions.txt"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "soak: ${seconds} s, at most ${rounds} rounds per thread, loopback simulator in-process"
status=0
# The test stops itself after the given time; the outer limit only guards against a hang.
FCSDK_LOAD_SECONDS=$seconds FCSDK_LOAD_ROUNDS=$rounds \
    timeout $((seconds + 300)) "$build/tests/sim/fcsdk_concurrency_tests" \
    --gtest_filter='LoadConcurrent.*' | tee "$log" || status=$?

result=$(grep '^LOAD-RESULT' "$log" || true)
if [ -z "$result" ]; then
    echo "soak: FAILED (no result line; exit status $status)"
    exit 1
fi
field() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" <<<"$result"; }
echo
echo "== soak summary =="
echo "duration:        $(field seconds) s"
echo "rounds:          $(field rounds) (backups: $(field backups))"
echo "library calls:   $(field calls)"
echo "requests:        $(field requests) ($(field tls_connections) TLS connections)"
echo "failures:        $(field failures) (injected faults: $(field injected_faults))"
echo "simulator kept:  $(field sim_tasks) finished tasks, $(field sim_resources) backup resources"
echo "RSS start / end: $(field rss_start_kib) KiB / $(field rss_end_kib) KiB"
echo "RSS samples:     $(grep '^LOAD-SAMPLE' "$log" | sed 's/LOAD-SAMPLE t=\([0-9]*\)s rss_kib=\([0-9]*\)/\1s:\2/' | tr '\n' ' ')"
if [ "$status" -ne 0 ] || [ "$(field failures)" != "0" ]; then
    echo "soak: FAILED"
    exit 1
fi
echo "soak: passed"
