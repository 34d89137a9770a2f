#!/usr/bin/env bash
# Installs what hyl's build and tests need on a Debian machine (as root),
# skipping whatever is already there.
#
#   scripts/setup.sh native   compiler, CMake and the tool's header-only libraries:
#                             enough for the library and tool
#   scripts/setup.sh all      also GoogleTest, Google Benchmark, mingw-w64
#                             (32- and 64-bit), Wine (32- and 64-bit), the
#                             peer dBASE tools, the locale, what the package
#                             checks use (dpkg-dev and file for cpack -G DEB,
#                             unzip, python3), and what the Python package
#                             builds and is tested with (venv, headers,
#                             setuptools, pybind11, pytest, pandas, GDAL's
#                             bindings, Dask and its distributed scheduler
#                             for hyl.dask)
set -euo pipefail
level=${1:-all}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

packages=(cmake g++ make libcli11-dev nlohmann-json3-dev)
if [ "$level" = all ]; then
    packages+=(googletest libgtest-dev libbenchmark-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
               locales tzdata shapelib libshp-dev python3-dbfread python3-dbf gdal-bin pgdbf
               clang libclang-rt-14-dev dpkg-dev file unzip python3
               python3-venv python3-dev python3-setuptools pybind11-dev python3-pybind11 python3-pytest
               python3-numpy python3-pandas python3-gdal python3-dask python3-distributed)
fi

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if [[ " ${missing[*]} " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ "$level" = all ] || exit 0

# Wine's code pages follow the locale: the tests run it as ru_RU.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi

bash "$(dirname "$0")/wine-setup.sh"
