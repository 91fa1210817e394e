#!/usr/bin/env bash
# The controller's device-node reset under Wine, with our cfgmgr32.dll
# stand-in (node known or not, disable and enable succeeding or failing) and
# with Wine's own, which never finds the node. The daemon's CM_* imports must
# bind to cfgmgr32.dll: MinGW's setupapi import library exports them too.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/double.sh"
out=$QX_WORK/out.txt

# Imports, read from the binaries: every CM_* call comes from cfgmgr32.dll.
imports() {
    x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {dll=tolower($3)} /CM_[A-Za-z_]+/ && dll != "" {print dll, $NF}'
}
for exe in "$QX_DIST/tests/transport_probe.exe" "$QX_DIST/quellix.exe"; do
    [ -f "$exe" ] || { fail "missing $exe"; continue; }
    imports "$exe" >"$out"
    if grep -v '^cfgmgr32.dll ' "$out" | grep -q .; then fail "$(basename "$exe") imports CM_* elsewhere: $(cat "$out")"; fi
done
imports "$QX_DIST/tests/transport_probe.exe" >"$out"
for fn in CM_Locate_DevNodeW CM_Get_Device_ID_ListW CM_Disable_DevNode CM_Enable_DevNode; do
    expect_contains "probe imports $fn" "$out" "cfgmgr32.dll $fn"
done

wine_setup
install_probe
# A second copy without the stand-in beside it.
mkdir -p "$(wine_c)/bare"
cp "$QX_DIST/tests/transport_probe.exe" "$(wine_c)/bare/"
cp "$QX_DIST/doubles/cfgmgr32.dll" "$(wine_c)/qx/"
key='HKCU\Software\QuellixTest\CfgMgr32'
setreg() { reg_set "$key" "$1" REG_DWORD "$2"; }
getreg() {
    timeout 60 wine reg query "$key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v {print $3}'
}

# Wine's own cfgmgr32 never finds the node. Only the locate step is tried:
# its CM_Disable_DevNode would abort the process.
wine_run 90 "$out" 'C:\bare\transport_probe.exe' which disable enable
expect_eq "exit code with Wine's cfgmgr32" 0 "$WINE_RC"
expect_eq "Wine's own copy" "cfgmgr32 wine" "$(line_of "$out" 1)"
expect_eq "disable line 1" "Disabling device" "$(line_of "$out" 2)"
line_of "$out" 3 | grep -qE '^Err\.\. CM_Locate_DevNode [1-9][0-9]*$' || fail "locate error line: [$(line_of "$out" 3)]"
expect_eq "enable line 1" "Enabling device" "$(line_of "$out" 4)"
expect_eq "enable line 2" "Err.. CM_LocateDevNode" "$(line_of "$out" 5)"

export WINEDLLOVERRIDES=cfgmgr32=n

# The stand-in without the node: CR_NO_SUCH_DEVNODE (13) from the locate step.
probe "$out" which disable enable
expect_eq "the stand-in is loaded" "cfgmgr32 standin" "$(line_of "$out" 1)"
printf 'Disabling device\nErr.. CM_Locate_DevNode 13\nEnabling device\nErr.. CM_LocateDevNode\n' >"$QX_WORK/want.txt"
sed 1d "$out" >"$QX_WORK/got.txt"
expect_file_eq "node not found" "$QX_WORK/want.txt" "$QX_WORK/got.txt"
expect_eq "nothing disabled" "" "$(getreg DisableCalls)"

# The node exists: disabled, then enabled again.
setreg Known 1
probe "$out" disable
printf 'Disabling device\nDevice disabled\n' >"$QX_WORK/want.txt"
expect_file_eq "disable" "$QX_WORK/want.txt" "$out"
probe "$out" enable
printf 'Enabling device\nDevice enabled\n' >"$QX_WORK/want.txt"
expect_file_eq "enable" "$QX_WORK/want.txt" "$out"

# The worker's quiet form does the same and prints nothing.
probe "$out" quietdisable
expect_eq "quiet disable prints nothing" "" "$(cat "$out")"
expect_eq "quietly disabled" "0x1" "$(getreg Disabled)"
probe "$out" quietenable
expect_eq "quiet enable prints nothing" "" "$(cat "$out")"
expect_eq "quietly enabled" "0x0" "$(getreg Disabled)"

# Firmware with another _UID: "ACPI\VLT0949\1" is absent, and the one
# instance listed under ACPI\VLT0949 is reset instead.
reg_set "$key" Instance REG_SZ 'ACPI\VLT0949\A7'
lists=$(($(getreg ListCalls)))
probe "$out" disable enable
printf 'Disabling device\nDevice disabled\nEnabling device\nDevice enabled\n' >"$QX_WORK/want.txt"
expect_file_eq "another instance" "$QX_WORK/want.txt" "$out"
expect_eq "listed once per step" "$((lists + 2))" "$(($(getreg ListCalls)))"
reg_unset "$key" Instance

# Disable and enable refused by the Configuration Manager.
setreg DisableResult 23
setreg EnableResult 23
probe "$out" disable enable
printf 'Disabling device\nErr.. CM_Disable_DevNode\nEnabling device\nErr.. CM_Enable_DevNode\n' >"$QX_WORK/want.txt"
expect_file_eq "refused disable and enable" "$QX_WORK/want.txt" "$out"
expect_eq "each call reached the stand-in" "0x4" "$(getreg DisableCalls)"

finish
