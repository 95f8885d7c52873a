#!/bin/bash
# Builds the native Windows programs (vistrel.exe, istool.exe and the test
# driver) with MinGW-w64 into BUILD_DIR/shell; the image libraries come from
# tools/mingw_deps.sh. Extra arguments go to ctest (the Wine tests) when given.
# usage: pe_build.sh [BUILD_DIR] [-- CTEST_ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/pe
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    # Absolute: the tests run from inside it.
    build=$(realpath -m "$1")
    shift
fi
[ "${1:-}" = "--" ] && shift
prefix=$(bash "$here/tools/mingw_deps.sh" | tail -n 1)
. "$here/tools/deps.sh"
vs_use_ccache
# A native istool, the reference istool.exe is compared with.
cmake -S "$here" -B "$build/host" -DVS_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/host" -j2 --target istool
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DVS_MINGW_PREFIX="$prefix" -DVS_TARGET=windows -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVS_NATIVE_ISTOOL="$build/host/tools/istool" >/dev/null
cmake --build "$build" -j2
if [ $# -gt 0 ]; then
    cd "$build" && ctest --output-on-failure "$@"
fi
