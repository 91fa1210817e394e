#!/usr/bin/env bash
# The MSI carries the driver package (INF and image) and installs it as a
# driver package is installed: PnPUtil from the system folder, in a deferred
# action after the files are in place, with the installed INF. PnPUtil's
# results: installed, staged without a device, installed with a restart to
# come, or a failure, which rolls the installation back.
. "$(dirname "$0")/../lib.sh"
wine_setup
mkdir -p "$(wine_c)/qx"
cp "$QX_DIST/HalvornVeltrane.msi" "$(wine_c)/qx/"
key='HKLM\Software\Quellix\PnpUtil'
folder="$(wine_c)/windows/Halvorn"
product='{5B1D3723-D5AC-4B68-B491-A2562DE8663C}'

# PnPUtil's exit code | msiexec's (its low 8 bits) | installed afterwards
while IFS='|' read -r pnputil msiexec installed what; do
    reg_unset "$key"
    reg_set "$key" ExitCode REG_DWORD "$pnputil"
    timeout 180 wine msiexec /i 'C:\qx\HalvornVeltrane.msi' /qn </dev/null >/dev/null 2>&1
    expect_eq "$what: msiexec" "$msiexec" "$?"
    expect_eq "$what: PnPUtil runs once" 1 "$(reg_dword "$key" Calls)"
    expect_eq "$what: the INF is installed when PnPUtil runs" 1 "$(reg_dword "$key" InfPresent)"
    line=$(timeout 60 wine reg query "$key" /v CommandLine </dev/null 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *CommandLine *REG_SZ *//p')
    expect_eq "$what: PnPUtil's command line" \
        '"C:\windows\system32\pnputil.exe" /add-driver "C:\windows\Halvorn\QXVeltrane.inf" /install' "$line"
    if [ "$installed" = yes ]; then
        cmp -s "$QX_DIST/driver/QXVeltrane.sys" "$folder/QXVeltrane.sys" || fail "$what: the image differs"
        cmp -s "$QX_SRC/driver/QXVeltrane.inf" "$folder/QXVeltrane.inf" || fail "$what: the INF differs"
        timeout 180 wine msiexec /x "$product" /qn </dev/null >/dev/null 2>&1
        expect_eq "$what: msiexec /x" 0 "$?"
    else
        [ ! -e "$folder/QXVeltrane.sys" ] || fail "$what: the image was left behind"
    fi
done <<'TABLE'
0|0|yes|installed
259|0|yes|staged for a device to come
3010|194|yes|installed, restart needed (3010)
5|67|no|PnPUtil failed (1603)
TABLE
finish
