#!/usr/bin/env bash
# Installs a build into a scratch prefix and builds the example host against
# it twice: with find_package(hyl) and with pkg-config.
set -euo pipefail
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(ls -d "$prefix"/lib*/ | head -1)

mkdir -p "$prefix/consumer"
cat > "$prefix/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(consumer C)
find_package(hyl 1.0 REQUIRED)
add_executable(host "$source/examples/host.c")
target_link_libraries(host PRIVATE hyl::hyl \${CMAKE_DL_LIBS})
CMAKE
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer/build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$prefix/consumer/build/host" "$source/samples/equipment.dbf" | grep -q "loaded: 4 records"
echo "find_package(hyl): found, linked and ran"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs hyl)
cc -o "$prefix/host-pc" "$source/examples/host.c" $flags -ldl
LD_LIBRARY_PATH="$libdir" "$prefix/host-pc" "$source/samples/equipment.dbf" | grep -q "loaded: 4 records"
echo "pkg-config hyl: $flags"
