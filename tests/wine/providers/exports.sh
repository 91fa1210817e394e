#!/usr/bin/env bash
# quellix.exe exports the four provider functions under their plain C names.
source "$(dirname "$0")/../lib.sh"
table=$QX_WORK/exports.txt
x86_64-w64-mingw32-objdump -p "$QX_DIST/quellix.exe" >"$table" || fail "objdump of quellix.exe"
for name in qx_wifi_initCSI qx_wifi_getCSI qx_wifi_releaseCSI qx_wifi_cleanCSI; do
    grep -qE "^[[:space:]]+\[ *[0-9]+\] $name\$" "$table" || fail "$name is not in the export table"
done
finish
