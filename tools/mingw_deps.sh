#!/bin/bash
# Cross-builds the image libraries for the Windows (PE) build from Debian's
# own source packages, once per machine, into a prefix outside the clone.
# Prints the prefix on its last line.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/deps.sh"
vs_install_pe_deps >&2

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)

# apt-get source needs deb-src lines for the suites the binaries come from.
if [ -z "$(apt-cache showsrc libjpeg-turbo 2>/dev/null)" ]; then
    src=/etc/apt/sources.list.d/vistrel-deb-src.sources
    for f in /etc/apt/sources.list.d/*.sources; do
        [ "$f" = "$src" ] && continue
        sed -n '/^Types:/s/.*/Types: deb-src/p; /^\(URIs\|Suites\|Components\|Signed-By\):/p; /^$/p' "$f"
        echo
    done | "${sudo[@]}" tee "$src" >/dev/null
    "${sudo[@]}" apt-get update -q >&2
fi

# Versions newest first: a mirror may list a security update whose source
# it does not carry, so the newest one that downloads is used.
srcvers() { apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -Vru; }
jvs=$(srcvers libjpeg-turbo); pvs=$(srcvers libpng1.6); tvs=$(srcvers tiff)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vistrel
# The folder name leaves out epochs: a colon in a path upsets make.
dirof() { echo "$cache/mingw-${1#*:}-${2#*:}-${3#*:}"; }

complete() {
    [ -f "$1/.built" ] || return 1
    local f
    for f in lib/libjpeg.a lib/libpng16.a lib/libtiff.a lib/libz.a include/jpeglib.h include/png.h \
        include/tiffio.h include/zlib.h; do
        [ -f "$1/$f" ] || return 1
    done
}

prefix=
for jv in $jvs; do for pv in $pvs; do for tv in $tvs; do
    [ -z "$prefix" ] && complete "$(dirof "$jv" "$pv" "$tv")" && prefix=$(dirof "$jv" "$pv" "$tv")
done; done; done

fetch() {
    local v
    for v in $2; do
        apt-get source -q "$1=$v" >&2 && { echo "$v"; return 0; }
    done
    return 1
}

if [ -z "$prefix" ]; then
    work=$cache/mingw-work
    rm -rf "$work"
    mkdir -p "$work"
    cd "$work"
    jv=$(fetch libjpeg-turbo "$jvs"); pv=$(fetch libpng1.6 "$pvs"); tv=$(fetch tiff "$tvs")
    prefix=$(dirof "$jv" "$pv" "$tv")
    rm -rf "$prefix"
    mkdir -p "$prefix/lib" "$prefix/include"
    # zlib from libz-mingw-w64-dev, copied so the prefix holds every
    # static library the programs link.
    cp /usr/x86_64-w64-mingw32/lib/libz.a "$prefix/lib/"
    cp /usr/x86_64-w64-mingw32/include/zlib.h /usr/x86_64-w64-mingw32/include/zconf.h "$prefix/include/"
    tc=$here/cmake/mingw-w64.cmake
    common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$tc" -DVS_MINGW_PREFIX="$prefix"
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF
        -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a")
    build() {
        local dir=$1; shift
        cmake -S "$dir" -B "$dir/build-mingw" "${common[@]}" "$@" >&2
        cmake --build "$dir/build-mingw" -j2 >&2
        cmake --install "$dir/build-mingw" >&2
    }
    build libjpeg-turbo-*/ -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
        -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
    build libpng1.6-*/ -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    build tiff-*/ -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
        -Dcxx=OFF -Djpeg=ON -Dzlib=ON -Dwebp=OFF -Dzstd=OFF -Dlzma=OFF -Djbig=OFF \
        -Dlibdeflate=OFF -Dlerc=OFF -Djpeg12=OFF \
        -DJPEG_INCLUDE_DIR="$prefix/include" -DJPEG_LIBRARY="$prefix/lib/libjpeg.a"
    cd "$cache"
    rm -rf "$work"
    touch "$prefix/.built"
    complete "$prefix" || { echo "mingw_deps: $prefix is incomplete" >&2; exit 1; }
fi
echo "$prefix"
