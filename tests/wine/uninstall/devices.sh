#!/usr/bin/env bash
# QXuninstall.exe removing controller device nodes: two nodes made by our
# test double, each with a driver key whose InfPath is stored without its
# terminating zero; the first one's inf exists in C:\windows\inf.
source "$(dirname "$0")/../lib.sh"
wine_setup
mkdir -p "$(wine_c)/qx"
cp "$QX_DIST/tests/uninstall/qx_make_device.exe" "$QX_DIST/QXuninstall.exe" "$(wine_c)/qx/"
out=$QX_WORK/out.txt
expected=$QX_WORK/expected.txt
enum='HKLM\System\CurrentControlSet\Enum\ACPI\VLT0949'

for n in 1 2; do
    wine_run 60 "$out" 'C:\qx\qx_make_device.exe' "$n" "oem7$n.inf"
    expect_eq "device $n made" 0 "$WINE_RC"
done
echo "; stand-in driver package" >"$(wine_c)/windows/inf/oem71.inf"

wine_run 120 "$out" 'C:\qx\QXuninstall.exe' -v
expect_eq "exit code after removing both devices" 0 "$WINE_RC"
cat >"$expected" <<'TEXT'
OpenService failed (1060)
    Device Instance ID: ACPI\VLT0949\1
    Device Hardware ID: "ACPI\VLT0949"
    Uninstalled Driver
    Removed Driver
    Device Instance ID: ACPI\VLT0949\2
    Device Hardware ID: "ACPI\VLT0949"
    Uninstalled Driver
    Unable to remove inf file - 2
TEXT
expect_file_eq "verbose device removal" "$expected" "$out"
[ -e "$(wine_c)/windows/inf/oem71.inf" ] && fail "driver package oem71.inf not removed"
timeout 30 wine reg query "$enum\\1" </dev/null >/dev/null 2>&1 && fail "device node 1 still there"
timeout 30 wine reg query "$enum\\2" </dev/null >/dev/null 2>&1 && fail "device node 2 still there"

# No controller device left: the loop ends at once, exit code 0.
wine_run 120 "$out" 'C:\qx\QXuninstall.exe' -v
expect_eq "exit code without devices" 0 "$WINE_RC"
expect_eq "output without devices" "OpenService failed (1060)" "$(cat "$out")"

finish
