#!/usr/bin/env bash
# Installs the project into a temporary prefix, builds the example against the installed package once
# with find_package and once with pkg-config, runs both against a vrmsim on loopback, and checks that the
# shared library exports exactly the symbols listed in src/exports.symbols; builds a C++20 consumer with
# strict warnings against the installed headers.
#   install_test.sh <source dir> <build dir>
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
prefix=$work/prefix

echo "-- installing into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$(ls "$prefix"/lib*/libFusionComputeSDKWrapper.so.1.0.0 2>/dev/null | head -n1)
[ -n "$lib" ] || { echo "libFusionComputeSDKWrapper.so.1.0.0 was not installed"; exit 1; }
libdir=$(dirname "$lib")
for f in "$libdir/libFusionComputeSDKWrapper.so.1" "$libdir/libFusionComputeSDKWrapper.so" \
         "$libdir/pkgconfig/fusioncompute-sdk-wrapper.pc" \
         "$libdir/cmake/FusionComputeSDKWrapper/FusionComputeSDKWrapperConfig.cmake" \
         "$libdir/cmake/FusionComputeSDKWrapper/FusionComputeSDKWrapperConfigVersion.cmake" \
         "$prefix/include/FusionComputeSDKWrapper/FusionComputeWrapper.h" \
         "$prefix/bin/vrmsim" "$prefix/bin/fcctl"; do
    [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done

echo "-- public headers reach no third-party header"
if grep -h '#include' "$prefix"/include/FusionComputeSDKWrapper/*.h | grep -E 'curl|openssl|boost|json'; then
    echo "a public header includes a third-party header"; exit 1
fi

echo "-- exported symbols"
# The shared library exports exactly what the installed headers declare, under the version node
# FCSDK_1.0. The list is kept in src/exports.symbols: a change of the interface changes the list in the
# same commit (regenerate it with the nm line below).
nm -D --defined-only --with-symbol-versions "$lib" | awk '{ print $3 }' | LC_ALL=C sort >"$work/symbols"
if ! diff -u "$src/src/exports.symbols" "$work/symbols" >"$work/symbols.diff"; then
    echo "the exported symbols differ from src/exports.symbols (- listed, + exported):"
    grep '^[-+][^-+]' "$work/symbols.diff" | c++filt | head -n 40
    exit 1
fi
if grep -v -E '^(FCSDK_1\.0|.*@@?FCSDK_1\.0)$' "$work/symbols"; then
    echo "exported symbols outside the version node FCSDK_1.0"; exit 1
fi
echo "   $(wc -l <"$work/symbols") symbols, as listed in src/exports.symbols"

echo "-- the pkg-config file leaves the language level to the consumer"
if grep -E '^Cflags:.*-std=' "$libdir/pkgconfig/fusioncompute-sdk-wrapper.pc"; then
    echo "the pkg-config file forces a language level"; exit 1
fi

echo "-- building a C++20 consumer with strict warnings, with find_package and with pkg-config"
cmake -S "$src/tests/install/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
"$work/consumer-build/fcsdk_consumer" | sed 's/^/   /'
# The consumer's flags come first, so a language level in the .pc file would override them.
# shellcheck disable=SC2046
g++ -std=c++20 -Wall -Wextra -Wshadow -Wconversion -Werror -o "$work/pkgconfig-consumer" \
    "$src/tests/install/consumer/consumer.cpp" \
    $(pkg-config --cflags --libs "$libdir/pkgconfig/fusioncompute-sdk-wrapper.pc") -Wl,-rpath,"$libdir"
"$work/pkgconfig-consumer" >/dev/null

echo "-- building the example with find_package"
cmake -S "$src/examples" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null

echo "-- building the example with pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
g++ -o "$work/pkgconfig-example" "$src/examples/connect_example.cpp" \
    $(pkg-config --cflags --libs fusioncompute-sdk-wrapper) -Wl,-rpath,"$libdir"

echo "-- running both against vrmsim"
password="Install-$RANDOM$RANDOM"
"$prefix/bin/vrmsim" --listen 127.0.0.1:0 --port-file "$work/port" --cert-dir "$work/certs" \
    --user admin --password "$password" >"$work/vrmsim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "vrmsim did not start"; cat "$work/vrmsim.log"; exit 1; }
printf '[Transport]\nsConnectTo = vrm.local:7443:127.0.0.1:%s\nsCAFile = %s\n' \
    "$(cat "$work/port")" "$work/certs/ca.pem" >"$work/fcsdk.ini"
export FCSDK_CONFIG=$work/fcsdk.ini FCSDK_HOST=vrm.local FCSDK_USER=admin FCSDK_PASSWORD=$password
for example in "$work/cmake-build/fcsdk_connect_example" "$work/pkgconfig-example"; do
    out=$("$example")
    echo "$out" | sed 's/^/   /'
    echo "$out" | grep -q '^Site: ' || { echo "$example did not reach the site"; exit 1; }
done

python=$(sed -n 's/^FCSDK_PYTHON_EXECUTABLE:INTERNAL=//p' "$build/CMakeCache.txt")
if [ -n "$python" ] && ls "$build"/python/fusioncompute*.so >/dev/null 2>&1; then
    echo "-- the Python module, found through its install directory alone"
    module=$(ls "$prefix"/lib/python3*/*-packages/fusioncompute*.so 2>/dev/null | head -n1)
    [ -n "$module" ] || { echo "the Python module was not installed"; exit 1; }
    [ -e "$(dirname "$module")/fusioncompute.pyi" ] || { echo "the type stubs are not beside the module"; exit 1; }
    out=$(cd "$work" && PYTHONPATH=$(dirname "$module") "$python" -c "
import os, fusioncompute
w = fusioncompute.Wrapper()
w.connect('vrm.local', 'admin', os.environ['FCSDK_PASSWORD'])
print('Site:', w.get_site().urn)")
    echo "$out" | sed 's/^/   /'
    echo "$out" | grep -q '^Site: urn:' || { echo "the installed Python module did not reach the site"; exit 1; }
fi
echo "-- install test passed"
