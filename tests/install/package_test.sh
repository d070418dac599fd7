#!/usr/bin/env bash
# Builds the Debian packages with cpack (from a fully built tree) and checks each one's name, file list
# and dependencies: the runtime package holds only the versioned shared library, the -dev package the
# headers, linker name, CMake package, pkg-config file and documentation, fcctl and vrmsim their program
# and manual page (fcctl also its bash completion); the library's users depend on the runtime package at
# exactly this version, and every package on the system libraries its binaries need; the Python module
# package, when built, imports from the unpacked packages alone.
#   package_test.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
major=${version%%.*}
runtime=libfusioncompute-sdk-wrapper$major

echo "-- cpack -G DEB (version $version)"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"; exit 1
fi

status=0
fail() { echo "$*"; status=1; }

# check <package> <expected files, one a line, directories left out>
check() {
    local package=$1 expected=$2 deb
    deb=$(ls "$work/${package}_${version}_"*.deb 2>/dev/null | head -n1)
    [ -n "$deb" ] || { fail "no package $package was built: $(ls "$work"/*.deb | xargs -n1 basename)"; return; }
    [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not named $package"
    # The CMake package's per-configuration file is named after the build type.
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||; s|Targets-[a-z]*\.cmake$|Targets-CONFIG.cmake|' |
        LC_ALL=C sort >"$work/$package.files"
    echo "$expected" | sed '/^$/d' | LC_ALL=C sort >"$work/$package.expected"
    if ! diff -u "$work/$package.expected" "$work/$package.files" >"$work/$package.diff"; then
        fail "the files of $package differ (- expected, + packaged):"; grep '^[-+][^-+]' "$work/$package.diff"
    fi
    echo "   $package: $(wc -l <"$work/$package.files") files; Depends: $(dpkg-deb -f "$deb" Depends)"
}

# depends <package> <pattern that Depends must match>
depends() {
    local deb
    deb=$(ls "$work/${1}_${version}_"*.deb 2>/dev/null | head -n1)
    [ -n "$deb" ] || return 0
    dpkg-deb -f "$deb" Depends | grep -q -E "$2" || fail "$1 does not depend on $2: $(dpkg-deb -f "$deb" Depends)"
}

lib=usr/lib
check "$runtime" "$lib/libFusionComputeSDKWrapper.so.$version
$lib/libFusionComputeSDKWrapper.so.$major"
check libfusioncompute-sdk-wrapper-dev "$lib/libFusionComputeSDKWrapper.so
usr/include/FusionComputeSDKWrapper/EvDebug.h
usr/include/FusionComputeSDKWrapper/FusionComputeErrorState.h
usr/include/FusionComputeSDKWrapper/FusionComputeExport.h
usr/include/FusionComputeSDKWrapper/FusionComputeRecords.h
usr/include/FusionComputeSDKWrapper/FusionComputeWrapper.h
$lib/cmake/FusionComputeSDKWrapper/FusionComputeSDKWrapperConfig.cmake
$lib/cmake/FusionComputeSDKWrapper/FusionComputeSDKWrapperConfigVersion.cmake
$lib/cmake/FusionComputeSDKWrapper/FusionComputeSDKWrapperTargets.cmake
$lib/cmake/FusionComputeSDKWrapper/FusionComputeSDKWrapperTargets-CONFIG.cmake
$lib/pkgconfig/fusioncompute-sdk-wrapper.pc
usr/share/doc/FusionComputeSDKWrapper/ARCHITECTURE.md
usr/share/doc/FusionComputeSDKWrapper/FCCTL.md
usr/share/doc/FusionComputeSDKWrapper/README.md
usr/share/doc/FusionComputeSDKWrapper/VRMSIM.md"
# The manual pages are made when the build found help2man.
if grep -q '^HELP2MAN_EXECUTABLE:FILEPATH=/' "$build/CMakeCache.txt"; then
    fcctl_man=usr/share/man/man1/fcctl.1
    vrmsim_man=usr/share/man/man1/vrmsim.1
else
    fcctl_man= vrmsim_man=
fi
check fcctl "usr/bin/fcctl
usr/share/bash-completion/completions/fcctl
$fcctl_man"
check vrmsim "usr/bin/vrmsim
$vrmsim_man"

depends "$runtime" 'libcurl4'
depends "$runtime" 'libssl3'
depends "$runtime" 'libboost-json1\.81\.0'
depends libfusioncompute-sdk-wrapper-dev "$runtime \\(= $version\\)"
depends fcctl "$runtime \\(= $version\\)"
depends vrmsim 'libssl3'
depends vrmsim 'libpugixml1v5'

# The Python module's package, when the tree built the module: the module and its stubs in Debian's
# directory for /usr, and it imports from the unpacked packages alone.
if grep -q python_deb "$build/CPackConfig.cmake"; then
    pydir=usr/lib/python3/dist-packages
    check python3-fusioncompute "$pydir/$(cd "$build/python" && ls fusioncompute.*.so)
$pydir/fusioncompute.pyi"
    depends python3-fusioncompute "$runtime \\(= $version\\)"
    depends python3-fusioncompute 'python3 \(>= 3\.'
    root=$work/root
    for deb in "$work/${runtime}_${version}_"*.deb "$work/python3-fusioncompute_${version}_"*.deb; do
        dpkg-deb -x "$deb" "$root"
    done
    imported=$(cd / && PYTHONPATH="$root/$pydir" python3 -c 'import fusioncompute; print(fusioncompute.__version__)' 2>&1) ||
        fail "the packaged module does not import: $imported"
    [ "$imported" = "$version" ] || fail "the packaged module reports version $imported"
fi
[ "$status" -eq 0 ] && echo "-- package test passed"
exit "$status"
