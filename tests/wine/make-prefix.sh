#!/usr/bin/env bash
# Builds the template Wine prefix that every Wine test copies: Windows 10,
# the null graphics driver (hidden windows work headless), no crash dialog.
set -euo pipefail
template=$1
command -v wine >/dev/null || { echo "wine is not installed: the Wine tests cannot run" >&2; exit 1; }
rm -rf "$template"
mkdir -p "$template"
cat > "$template/user.reg" <<'REG'
WINE REGISTRY Version 2

[Software\\Wine] 1
"Version"="win10"

[Software\\Wine\\Drivers] 1
"Graphics"="null"

[Software\\Wine\\WineDbg] 1
"ShowCrashDialog"=dword:00000000
REG
export WINEPREFIX=$template WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=" timeout 180 wineboot -i >/dev/null 2>&1
timeout 60 wineserver -w
test -f "$template/system.reg" || { echo "wineboot made no prefix" >&2; exit 1; }
echo "template prefix ready: $template"
