#!/usr/bin/env bash
# Builds the example host against an installed hyl twice, with
# find_package(hyl) and with pkg-config, and checks that the tool, its
# manual page and both package files carry the build's version.
#
#   check.sh BUILD SOURCE VERSION         from cmake --install into a scratch prefix
#   check.sh BUILD SOURCE VERSION deb     from the Debian package (cpack -G DEB),
#                                         unpacked into a scratch root
set -euo pipefail
build=$1
source=$2
version=$3
from=${4:-install}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [ "$from" = deb ]; then
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/deb" >/dev/null
    deb=$(ls "$scratch"/deb/*.deb)
    for field in Package Version Maintainer Depends; do
        [ -n "$(dpkg-deb -f "$deb" "$field")" ] || { echo "$deb: no $field"; exit 1; }
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || { echo "package version $(dpkg-deb -f "$deb" Version)"; exit 1; }
    dpkg-deb -x "$deb" "$scratch/root"
    prefix=$scratch/root/usr
    echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
else
    prefix=$scratch/prefix
    cmake --install "$build" --prefix "$prefix" >/dev/null
fi
libdir=$(ls -d "$prefix"/lib*/ | head -1)

want() { [ "$2" = "$3" ] || { echo "$1: '$2', expected '$3'"; exit 1; }; }
want "hyl --version" "$("$prefix/bin/hyl" --version)" "hyl $version"
want "pkg-config version" "$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion hyl)" "$version"
want "CMake package version" "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$libdir/cmake/hyl/hylConfigVersion.cmake")" "$version"
zcat "$prefix/share/man/man1/hyl.1.gz" | grep -q "^\.TH HYL 1 .*\"hyl $version\"" || { echo "no manual page of $version"; exit 1; }

mkdir -p "$scratch/consumer"
cat > "$scratch/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(consumer C)
find_package(hyl $version EXACT REQUIRED)
add_executable(host "$source/examples/host.c")
target_link_libraries(host PRIVATE hyl::hyl \${CMAKE_DL_LIBS})
CMAKE
cmake -S "$scratch/consumer" -B "$scratch/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/consumer/build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$scratch/consumer/build/host" "$source/samples/equipment.dbf" | grep -q "loaded: 4 records"
echo "find_package(hyl): found, linked and ran"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs hyl)
cc -o "$scratch/host-pc" "$source/examples/host.c" $flags -ldl
LD_LIBRARY_PATH="$libdir" "$scratch/host-pc" "$source/samples/equipment.dbf" | grep -q "loaded: 4 records"
echo "pkg-config hyl: $flags"
