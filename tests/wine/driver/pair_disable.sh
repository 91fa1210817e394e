#!/usr/bin/env bash
# A write in flight across a disable of the device node completes exactly
# once. While the handle that issued it is open, the PnP manager vetoes the
# removal (Err.. CM_Disable_DevNode through the Configuration Manager) and
# the write ends by the transport's own time-out and cancellation. When the
# process that issued it dies with the write at the controller, Wine cancels
# it and closes the handle; the disable then goes through (D0 exit, release
# hardware, removal) with nothing left in flight, the device is gone until
# the enable starts it afresh, and transfers work again.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/stack.sh"
wine_setup
start_stack
cp "$QX_DIST/doubles/cfgmgr32.dll" "$(wine_c)/qx/"
reg_set 'HKCU\Software\QuellixTest\CfgMgr32' Known REG_DWORD 1
export WINEDLLOVERRIDES=cfgmgr32=n
out=$QX_WORK/out.txt
log=$QX_WORK/log.txt

# until_held N: until the controller holds the Nth write.
until_held() {
    local i
    for ((i = 0; i < 40; i++)); do
        probe "$log" log
        grep -q "^log opens=[0-9]* writes=$1 " "$log" && return 0
        sleep 0.25
    done
    fail "the controller never held write $1"
}

# Vetoed: the write's handle is open.
probe "$out" mode write=pending
wine_run 90 "$QX_WORK/held.txt" "$PROBE" open write 00 &
writer=$!
until_held 1
probe "$out" disable
expect_eq "a disable under an open handle" "Disabling device
Err.. CM_Disable_DevNode" "$(cat "$out")"
wait "$writer"
expect_eq "the held write ends by its time-out" "write -> -1 wr=-1 rd=7" \
    "$(line_of "$QX_WORK/held.txt" 2 | sed 's/ ms=.*//')"
expect_eq "removals vetoed" 1 "$(fx_value vetoes)"
expect_eq "the device stayed" 0 "$(fx_value d0_exits)"

# The writer dies with its write at the controller; the disable that follows
# finds the handle's clean-up finished, and removes the device.
wine "$PROBE" open write 00 sleep 60000 </dev/null >/dev/null 2>&1 &
writer=$!
until_held 2
kill -KILL "$writer"
wait "$writer" 2>/dev/null
for ((i = 0; i < 20; i++)); do
    probe "$out" disable
    grep -q '^Device disabled$' "$out" && break
    sleep 0.5
done
expect_contains "the disable after the writer died" "$out" "Device disabled"
probe "$log" log
expect_contains "each held write cancelled at the controller once" "$log" "writes=2 reads=0 cancelled=2"
while read -r key want; do
    expect_eq "after the removal: $key" "$want" "$(fx_value "$key")"
done <<'TABLE'
present 0
d0_exits 1
removes 1
outstanding 0
TABLE
probe "$out" open
expect_eq "no device while disabled" "open -> -1" "$(line_of "$out" 1)"

# The fresh start reads the device's settings anew: with "ConnectInterrupt"
# 1 the driver connects the interrupt the firmware describes, and signalling
# it succeeds (without, it is STATUS_NOT_FOUND).
settings='HKLM\System\CurrentControlSet\Enum\ACPI\VLT0949\1\Device Parameters\Settings'
reg_set "$settings" ConnectInterrupt REG_DWORD 1
probe "$out" enable mode plain open write 03027DBC7E read 5
expect_eq "enabled again" "Device enabled" "$(line_of "$out" 2)"
expect_eq "open after the fresh start" "open -> 0" "$(line_of "$out" 4)"
expect_eq "the controller answers" "03 02 07 03 01" "$(line_of "$out" 6 | sed 's/.*bytes=//')"
expect_eq "started twice" 2 "$(fx_value starts)"
wine_run 60 "$out" "$FX_PROBE" open signal
expect_eq "the interrupt connected at the fresh start" "signal -> ok info=0 bytes=" "$(line_of "$out" 2)"
expect_no_violations

# The driver's unload: the PnP manager removes the device first.
timeout 60 wine sc stop QXVeltrane </dev/null >"$QX_WORK/stop.out" 2>&1
for ((i = 0; i < 40; i++)); do
    timeout 60 wine sc query QXVeltrane </dev/null >"$QX_WORK/query.out" 2>&1
    grep -q STOPPED "$QX_WORK/query.out" && break
    sleep 0.25
done
expect_contains "the driver stopped" "$QX_WORK/query.out" STOPPED
probe "$out" open
expect_eq "the device went with the driver" "open -> -1" "$(line_of "$out" 1)"
wine_run 60 "$out" "$FX_PROBE" state
expect_contains "and the framework's control device" "$out" "control device: error"
expect_not_contains "nothing broken at the unload" "$STACK_LOG" "kmdfsim violation"
expect_not_contains "winedevice survived the unload" "$STACK_LOG" "Unhandled"
finish
