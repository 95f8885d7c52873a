#!/bin/bash
# The Windows release: builds the PE programs (tools/pe_build.sh) and
# writes build/release-win/vistrel-VERSION.msi and a portable zip, then
# installs and removes the MSI in a scratch Wine prefix (--no-check skips
# that).
# usage: release.sh [--no-check]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
check=1
[ "${1:-}" = "--no-check" ] && check=0

build=${VS_BUILD_DIR:-$here/build}
bash "$here/tools/pe_build.sh" "$build/pe"
bin=$build/pe/shell
# 2.0 in CMake; Windows Installer wants three parts.
short=$(sed -n 's/^project(VistrelViewer VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
version=$short.0
out=$build/release-win
stage=$out/stage
rm -rf "$out"
mkdir -p "$stage/Vistrel Viewer"
for exe in vistrel.exe istool.exe; do
    x86_64-w64-mingw32-strip -o "$stage/Vistrel Viewer/$exe" "$bin/$exe"
done
cp "$here/app/res/vistrel.ico" "$stage/Vistrel Viewer/"
msi=$out/vistrel-$short.msi
zip=$out/vistrel-$short-win64.zip
# wixl finds the files named in the .wxs relative to the working folder.
(cd "$stage/Vistrel Viewer" && wixl -a x64 -D Version="$version" -o "$msi" "$here/tools/win/vistrel.wxs")
(cd "$stage" && rm -f "Vistrel Viewer/vistrel.ico" && zip -qr "$zip" "Vistrel Viewer")

if [ $check -eq 1 ]; then
    . "$here/tests/e2e/winenv.sh"
    vs_wine_start /usr/lib/wine/wine64
    installed="$WINEPREFIX/drive_c/Program Files/Vistrel Viewer/vistrel.exe"
    "$VS_WINE" msiexec /i "$msi" /qn || vs_fail "msiexec /i exited with $?"
    [ -f "$installed" ] || vs_fail "vistrel.exe not installed"
    [ -n "$(find "$WINEPREFIX/drive_c" -name 'Vistrel Viewer.lnk')" ] || vs_fail "no Start-menu shortcut"
    # The registry reaches its files when the server ends.
    "$(dirname "$VS_WINE")/wineserver" -w
    grep -q '"DisplayName"="Vistrel Viewer 2.0"' "$WINEPREFIX/system.reg" || vs_fail "no uninstall entry"
    # The installed program starts and shows a picture; its settings stay
    # when it is removed.
    mark="Vistrel Viewer - v2.0"
    "$VS_WINE" "$installed" "Z:${here//\//\\}\\samples\\sample.bmp" &
    viewer=$!
    "$VS_WINE" "$bin/vsdriver.exe" wait "sample.bmp (1/1)" 60 >/dev/null || vs_fail "the installed viewer showed no picture"
    "$VS_WINE" "$bin/vsdriver.exe" key "$mark" ESCAPE
    wait "$viewer" || vs_fail "the installed viewer exited with $?"
    "$(dirname "$VS_WINE")/wineserver" -w
    grep -q 'Software\\\\Orvanta\\\\Vistrel Viewer\\\\2.0' "$WINEPREFIX/user.reg" || vs_fail "the viewer wrote no settings"
    "$VS_WINE" msiexec /x "$msi" /qn || vs_fail "msiexec /x exited with $?"
    [ ! -e "$installed" ] || vs_fail "vistrel.exe left after removal"
    [ -z "$(find "$WINEPREFIX/drive_c" -name 'Vistrel Viewer.lnk')" ] || vs_fail "shortcut left after removal"
    "$(dirname "$VS_WINE")/wineserver" -w
    ! grep -q '"DisplayName"="Vistrel Viewer 2.0"' "$WINEPREFIX/system.reg" || vs_fail "uninstall entry left"
    grep -q 'Software\\\\Orvanta\\\\Vistrel Viewer\\\\2.0' "$WINEPREFIX/user.reg" || vs_fail "removal took the user's settings"
    echo "MSI installs and removes cleanly"
    # Cleaned up here: a cleanup step failing in the exit trap would fail the release.
    trap - EXIT
    vs_wine_stop || true
fi
ls -l "$msi" "$zip"
