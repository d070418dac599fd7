#!/usr/bin/env bash
# The whole test suite: installs the dependencies, builds the project warnings-as-errors, runs every test
# (labels unit, sim, fuzz, install), then builds again under AddressSanitizer + UndefinedBehaviorSanitizer
# and runs the unit, simulator and fuzz-replay tests there, and runs the concurrency tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${FCSDK_JOBS:-$(nproc)}
# ccache (when installed) may reuse objects compiled in another checkout of the same sources.
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=true

step() { printf '\n== %s ==\n' "$*"; }

step "Dependencies"
bash scripts/install-deps.sh

step "Build (RelWithDebInfo, -Werror)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCSDK_WERROR=ON
cmake --build build -j"$jobs"

step "Tests"
ctest --test-dir build --output-on-failure -j"$jobs"

step "Build with AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DFCSDK_WERROR=ON -DFCSDK_SANITIZE=address,undefined \
    -DFCSDK_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"

step "Tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -L 'unit|sim|fuzz'

step "Concurrency tests under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCSDK_WERROR=ON -DFCSDK_SANITIZE=thread \
    -DFCSDK_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target fcsdk_concurrency_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure -L concurrency

step "All tests passed"
