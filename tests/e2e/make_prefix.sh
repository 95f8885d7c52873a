#!/bin/bash
# Makes the Wine prefix every end-to-end test starts from as a copy: a prefix's first start outlasts a test's own steps.
# usage: make_prefix.sh WINE64 TEMPLATE_DIR
set -u
unset VS_WINE_TEMPLATE
. "$(dirname "$0")/winenv.sh"
vs_wine_start "$1"
# No window manager on the virtual display: Wine would wait 2 s for one at every window that closes.
"$VS_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
    vs_fail "could not set the X11 driver"
"$(dirname "$VS_WINE")/wineserver" -k >/dev/null 2>&1 || true
"$(dirname "$VS_WINE")/wineserver" -w >/dev/null 2>&1 || true
rm -rf "$2" "$2.new"
cp -a "$WINEPREFIX" "$2.new" && mv "$2.new" "$2" || vs_fail "could not keep the prefix"
[ -f "$2/system.reg" ] || vs_fail "wineboot made no registry"
echo "prefix template: $2"
