#!/usr/bin/env bash
# The real quellix.exe with the service's options steers through the real
# QXVeltrane.sys on our framework: the controller behind the SPB double gets
# the set-up byte for byte and a stream of link reports; each worker run's
# node reset cycles the driver (the device is removed, D0 exit included, and
# started afresh), at the start and again after a suspend and resume, and
# steering goes on; on Ctrl+C the daemon sets the controller up once more,
# lets go of the device and exits 0. The driver prints what it is asked and
# breaks none of the framework's rules.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/stack.sh"
source "$(dirname "$0")/../daemon/notebook.sh"
export LANG=C.UTF-8
wine_setup
start_stack
install_notebook "$QX_DIST/tests/wine/daemon/power_probe.exe"
export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n"
log=$QX_WORK/log.txt
out=$QX_WORK/daemon.txt

timeout 300 wine 'C:\qx\quellix.exe' -a 3 -n 515 -o 134349066 -r 250 -v 1 </dev/null >"$out" \
    2>"$QX_WORK/daemon.err" &
daemon=$!
wait_for "QUELLIX: Veltrane 2.4.9 Started." 90
sleep 3
first=$(link_reports)
[ "${first:-0}" -ge 3 ] || fail "expected link reports after 3 s, got [$first]"

# The set-up as the controller received it: the wake byte, the configuration
# (settings of -a 3 -n 515) with the echo request, the version query, the
# switch table of -o 134349066; then link reports, the first for a new BSSID.
grep '^log write' "$log" | head -4 >"$QX_WORK/setup.txt"
cat >"$QX_WORK/want.txt" <<'FRAMES'
log write 00
log write 0A 04 5A C3 96 3C 40 03 0A 32 23 00 7D 06 03 7D F6 7E
log write 03 02 7D BC 7E
log write 08 09 1A 82 1A 82 00 00 00 00 7D 02 7E
FRAMES
expect_file_eq "the set-up at the controller" "$QX_WORK/want.txt" "$QX_WORK/setup.txt"
expect_contains "settings and switch table taken" "$log" \
    "log settings=40 03 0A 32 23 00 switch_table=1A 82 1A 82 00 00 00 00"
expect_contains "every frame decoded" "$log" "frames_bad=0"
expect_eq "flags of the first link report" 80 "$(report_flags 1)"
expect_eq "flags of the second link report" 00 "$(report_flags 2)"
expect_eq "every link report frame in the log was taken as one" \
    "$(grep -c '^log write 0C 07' "$log")" \
    "$(sed -n 's/.*link_reports=\([0-9]*\).*/\1/p' "$log" | head -1)"

# The worker's node reset before it opened the device: one removal with its
# D0 exit, and the fresh start after the device's first.
while read -r key want; do
    expect_eq "after the first run's reset: $key" "$want" "$(fx_value "$key")"
done <<'TABLE'
adds 2
starts 2
d0_exits 1
removes 1
vetoes 0
TABLE
expect_eq "device adds the driver printed" 2 "$(prints 'DUVAD!!!!! IN DEVICE ADD!!!!!!!')"

# A suspend ends the run; the resume starts a fresh one with its own reset,
# and the reports go on.
wine_run 60 "$log" 'C:\qx\power_probe.exe' suspend
wait_for "QUELLIX: Suspending." 10
wine_run 60 "$log" 'C:\qx\power_probe.exe' resume-user
wait_for "QUELLIX: Waking up." 10
for ((i = 0; i < 60; i++)); do
    [ "$(tr -d '\r' <"$out" | grep -c 'QUELLIX: Veltrane 2.4.9 Started.')" -ge 2 ] && break
    sleep 0.5
done
before=$(link_reports)
sleep 2
after=$(link_reports)
[ "${after:-0}" -gt "${before:-0}" ] || fail "steering did not go on after the reset: $before then $after"
expect_eq "d0 exits after the second reset" 2 "$(fx_value d0_exits)"
expect_eq "starts after the second reset" 3 "$(fx_value starts)"
expect_eq "prepare hardware per start" 3 "$(prints 'DUVAD: in OnPrepareHardware()')"

kill -INT "$daemon"
wait "$daemon"
expect_eq "exit code after Ctrl+C" 0 "$?"
tr -d '\r' <"$out" >"$out.lf"
expect_contains "exit line" "$out.lf" "QUELLIX: Veltrane Exited."
expect_eq "one controller line per set-up" 3 "$(grep -c 'QUELLIX: Veltrane Controller (1.3.7).' "$out.lf")"
grep -qF "QUELLIX: Unable to" "$out.lf" && fail "the daemon reported a failure: $(cat "$out.lf")"
sleep 1
probe "$log" log
expect_contains "the driver let go of the controller" "$log" "handles=0"
for text in '!!!!!!!!!!!!!!!!!!DUVAD - STARTING!!!!!!!!!!!!!!!!!!!!!' 'DUVAD: in OnIoWRITE()' \
    'DUVAD: in OnIoREAD()' 'DUVAD: in OnIoDeviceControl()'; do
    expect_at_least "prints of [$text]" 1 "$(prints "$text")"
done
expect_eq "every request completed" 0 "$(fx_value outstanding)"
expect_no_violations
finish
