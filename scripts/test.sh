#!/usr/bin/env bash
# Every test: the native GoogleTest suite with the tool, install and Debian
# package checks, the interoperability checks with other dBASE readers and
# writers, the Python package, then the Windows packages and the DLL under
# Wine, 32-bit and 64-bit.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh all
jobs=$(nproc)

echo "== native build and unit tests"
cmake --preset native -DHYL_BUILD_TESTS=ON -DHYL_BUILD_BENCH=ON >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

echo "== interoperability with other dBASE tools"
bash tests/interop/run.sh build/native

echo "== the Python package: installed as the README says, then its tests"
# A fresh build each time: setuptools does not see a changed header.
rm -rf build/python-venv python/build
/usr/bin/python3 -m venv --system-site-packages build/python-venv
PIP_DISABLE_PIP_VERSION_CHECK=1 build/python-venv/bin/pip install -q --no-build-isolation ./python
HYL_TOOL="$PWD/build/native/tools/hyl" HYL_NATIVE_LIB="$PWD/build/native/libhyl.so" \
    build/python-venv/bin/python -m pytest -q -p no:cacheprovider python/tests

echo "== the native suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

echo "== the thread tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
# ThreadSanitizer cannot place its shadow memory when the kernel randomises
# more address bits than it expects (vm.mmap_rnd_bits above 28); run the
# tests, which are listed when run, without address randomisation.
no_aslr=()
if setarch "$(uname -m)" -R true 2>/dev/null; then no_aslr=(setarch "$(uname -m)" -R); fi
"${no_aslr[@]}" ctest --preset tsan -j"$jobs"

echo "== short fuzz runs (FUZZ_SECONDS each, default 30)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
bash tests/fuzz/run.sh build/fuzz

echo "== 32-bit DLL under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
bash tests/install/check-zip.sh build/win32
bash tests/win32/run.sh build/win32

echo "== 64-bit DLL under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"
bash tests/install/check-zip.sh build/win64
bash tests/win32/run.sh build/win64
