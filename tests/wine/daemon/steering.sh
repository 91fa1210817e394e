#!/usr/bin/env bash
# The real quellix.exe under Wine, end to end: our Intel library, wlanapi,
# iphlpapi and cfgmgr32 stand-ins and the "\\.\QXSPB" double. The daemon
# resets the node, sets the controller up, sends link reports (the first one
# flagged as a new BSSID), stops steering on a suspend broadcast, starts a
# fresh run on resume, and on Ctrl+C shuts the controller down and exits 0.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/notebook.sh"
export LANG=C.UTF-8
wine_setup
set_up_notebook "$QX_DIST/tests/wine/daemon/power_probe.exe"
export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n"
log=$QX_WORK/log.txt
out=$QX_WORK/daemon.txt

timeout 300 wine 'C:\qx\quellix.exe' -v 1 -r 100 </dev/null >"$out" 2>"$QX_WORK/daemon.err" &
daemon=$!
wait_for "QUELLIX: Veltrane 2.4.9 Started." 90
sleep 3
first=$(link_reports)
[ "${first:-0}" -ge 3 ] || fail "expected link reports after 3 s, got [$first]"
# The first report names a new BSSID, the second does not.
expect_eq "flags of the first link report" 80 "$(report_flags 1)"
expect_eq "flags of the second link report" 00 "$(report_flags 2)"

# Suspend: at most the report of the cycle in progress, then nothing until resume.
wine_run 60 "$log" 'C:\qx\power_probe.exe' suspend
expect_eq "suspend broadcast" "sent suspend" "$(cat "$log")"
wait_for "QUELLIX: Suspending." 10
sleep 1
before=$(link_reports)
sleep 3
after=$(link_reports)
expect_eq "no link reports while suspended" "$before" "$after"
wait_for "QUELLIX: Start cancelled. System is entering sleep/suspend/shutdown." 10

wine_run 60 "$log" 'C:\qx\power_probe.exe' resume-user
wait_for "QUELLIX: Waking up." 10
for ((i = 0; i < 60; i++)); do
    [ "$(tr -d '\r' <"$out" | grep -c 'QUELLIX: Veltrane 2.4.9 Started.')" -ge 2 ] && break
    sleep 0.5
done
sleep 2
resumed=$(link_reports)
[ "${resumed:-0}" -gt "${after:-0}" ] || fail "link reports did not resume: $after then $resumed"

# Ctrl+C: the console handler sets the controller up once more, closes it and exits 0.
kill -INT "$daemon"
wait "$daemon"
rc=$?
expect_eq "exit code after Ctrl+C" 0 "$rc"
tr -d '\r' <"$out" >"$out.lf"
expect_contains "exit line" "$out.lf" "QUELLIX: Veltrane Exited."
expect_eq "one controller line per set-up" 3 "$(grep -c 'QUELLIX: Veltrane Controller (1.3.7).' "$out.lf")"
probe "$log" log
expect_contains "no data handle left open" "$log" "handles=0"

# The exported functions other programs use.
x86_64-w64-mingw32-objdump -p "$QX_DIST/quellix.exe" >"$QX_WORK/exports.txt"
for fn in qx_winevent_init qx_winevent_cleanup qx_wifi_initCSI qx_wifi_getCSI qx_wifi_releaseCSI qx_wifi_cleanCSI; do
    expect_contains "export $fn" "$QX_WORK/exports.txt" " $fn"
done
finish
