# Sourced by view.sh and check.sh: installs the Debian packages the build
# and the tests need, when any is missing.
VS_PACKAGES="g++ cmake make pkg-config libgtest-dev googletest libjpeg62-turbo-dev libpng-dev
libtiff-dev zlib1g-dev libnetpbm-dev netpbm libjpeg-turbo-progs libimage-exiftool-perl exif
wine64 wine64-tools libwine-dev xvfb xauth imagemagick python3 clang-14 libclang-rt-14-dev ccache"

# Packages only the native Windows (PE) build needs; a core-only run
# does not pull them in.
VS_PE_PACKAGES="g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev nasm cmake make
dpkg-dev wine64 xvfb xauth wixl zip"

vs_install_deps() {
    vs_install_packages $VS_PACKAGES
}

vs_install_pe_deps() {
    vs_install_packages $VS_PE_PACKAGES
}

vs_install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Compiled objects are cached outside the clone, so a fresh clone on the
# same machine builds the core again in seconds.
vs_use_ccache() {
    command -v ccache >/dev/null || return 0
    # Objects with debug information name their build folder; without this
    # a fresh clone would never find them in the cache.
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_NOHASHDIR=1
}
