#!/usr/bin/env bash
# The Windows package for hosts: cpack -G ZIP in the win32 or win64 build
# zips the package folder.  The zip, hyl-VERSION-win32.zip or -win64.zip,
# must hold the DLL, its header, its .def file, the import library and
# hyl.exe; both programs must carry the build's version in their version
# resource, the DLL no symbols.  The DLL's export table must be the one
# frame/hyl.def makes for its kind, the .def file in the zip must list it,
# and the DLL and hyl.exe must import system DLLs only (check-exports.py).
#
#   check-zip.sh BUILD_DIR      (a win32 or win64 build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: check-zip.sh BUILD_DIR}" && pwd)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
system=$(sed -n 's/^set(CPACK_SYSTEM_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
case $system in
    win32) objdump=i686-w64-mingw32-objdump ;;
    win64) objdump=x86_64-w64-mingw32-objdump ;;
    *) echo "$build: not a Windows build ($system)"; exit 1 ;;
esac
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G ZIP -B "$scratch/zip" >/dev/null)
zip=$(ls "$scratch"/zip/*.zip)
failed=0
bad() { echo "$(basename "$zip"): $*"; failed=1; }
[ "$(basename "$zip")" = "hyl-$version-$system.zip" ] || bad "expected the name hyl-$version-$system.zip"

listing=$(unzip -Z1 "$zip")
for f in hyl.dll hyl.h hyl.def libhyl.dll.a hyl.exe; do
    grep -qx "[^/]*/$f" <<<"$listing" || bad "no $f in: $(tr '\n' ' ' <<<"$listing")"
done
unzip -q "$zip" -d "$scratch/files"

# The resource strings, each key on one line and its value on the next.
value() { strings -el -n 3 "$1" | grep -x -A1 "$2" | sed -n 2p; }
for program in hyl.dll hyl.exe; do
    file=$(find "$scratch/files" -name "$program")
    [ -n "$file" ] || continue
    [ "$(value "$file" FileVersion)" = "$version" ] || bad "$program: FileVersion '$(value "$file" FileVersion)', expected $version"
    [ "$(value "$file" ProductVersion)" = "$version" ] || bad "$program: ProductVersion '$(value "$file" ProductVersion)'"
    [ "$(value "$file" ProductName)" = hyl ] || bad "$program: ProductName '$(value "$file" ProductName)'"
    [ "$(value "$file" OriginalFilename)" = "$program" ] || bad "$program: OriginalFilename '$(value "$file" OriginalFilename)'"
    [ -n "$(value "$file" FileDescription)" ] || bad "$program: no FileDescription"
done
dll=$(find "$scratch/files" -name hyl.dll)
if [ -n "$dll" ] && "$objdump" -h "$dll" | grep -q '\.debug'; then bad "hyl.dll is not stripped"; fi
if [ -n "$dll" ]; then
    exports=$(python3 "$here/check-exports.py" "$objdump" "$dll" "$here/../../frame/hyl.def" \
              "$(find "$scratch/files" -name hyl.def)" "$(find "$scratch/files" -name hyl.exe)") || failed=1
    echo "$exports"
fi

[ "$failed" -eq 0 ] || exit 1
echo "$(basename "$zip"): $(grep -c . <<<"$listing") entries; hyl.dll and hyl.exe carry version $version"
