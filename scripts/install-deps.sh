#!/usr/bin/env bash
# Installs the Debian 12 packages this project builds, tests and documents with.
# Idempotent: packages already present are left alone; only the missing ones are fetched.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git curl
    libcurl4-openssl-dev
    libssl-dev openssl
    libboost1.81-dev libboost-json1.81-dev
    libcpp-httplib-dev
    libcli11-dev
    libpugixml-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-14 libclang-rt-14-dev
    clang-format ccache
    graphviz gnuplot-nox doxygen help2man
    python3-dev pybind11-dev python3-pytest
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: every package is already installed"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
else
    sudo_cmd=()
fi

echo "install-deps: installing ${missing[*]}"
# libboost1.81-dev conflicts with Debian's default Boost 1.74 headers; apt-get replaces them.
if dpkg-query -W -f='${Status}' libboost1.74-dev 2>/dev/null | grep -q "install ok installed"; then
    echo "install-deps: Boost 1.74 headers are present and will be replaced by Boost 1.81"
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "install-deps: done"
