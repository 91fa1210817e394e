#!/usr/bin/env bash
# A second quellix.exe while one steers through the real QXVeltrane.sys. The
# installed INF marks the device exclusive, and our framework's I/O manager
# holds the named device object to it: the second daemon's open control code
# fails with access denied (Wine hands out the handle; the refused create
# shows in its first request). Its node reset meets the first daemon's open
# handle: the PnP manager vetoes the removal (CR_REMOVE_VETOED to the
# Configuration Manager), so the driver is not cycled under the first
# daemon. The second daemon gives up and exits 0 without touching the bus;
# the first keeps steering and exits cleanly on Ctrl+C.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/stack.sh"
source "$(dirname "$0")/../daemon/notebook.sh"
export LANG=C.UTF-8
wine_setup
start_stack
install_notebook
export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n"
log=$QX_WORK/log.txt
out=$QX_WORK/first.txt
second_out=$QX_WORK/second.txt

timeout 300 wine 'C:\qx\quellix.exe' -v 1 -r 100 </dev/null >"$out" 2>"$QX_WORK/first.err" &
first=$!
wait_for "QUELLIX: Veltrane 2.4.9 Started." 90
sleep 1
opens_before=$(log_value opens)
configs_before=$(log_value config_writes)
reports_before=$(log_value link_reports)
adds_before=$(fx_value adds)
expect_eq "the first daemon's bus connection" 1 "$(log_value handles)"

wine_run 120 "$second_out" 'C:\qx\quellix.exe' -v 1 -r 100
expect_eq "exit code of the second daemon" 0 "$WINE_RC"
expect_contains "the second daemon cannot open the device" "$second_out" \
    "QUELLIX: Unable to open driver/hardware interface."
grep -qF "QUELLIX: Veltrane 2.4.9 Started." "$second_out" && fail "the second daemon started steering"
expect_contains "the second daemon ends" "$second_out" "QUELLIX: Veltrane Exited."
expect_at_least "removals vetoed by the first daemon's handle" 1 "$(fx_value vetoes)"
expect_eq "the driver was not cycled" "$adds_before" "$(fx_value adds)"
expect_eq "no D0 exit under the first daemon" 1 "$(fx_value d0_exits)"
expect_eq "bus opens while the second daemon ran" "$opens_before" "$(log_value opens)"
expect_eq "configuration writes while the second daemon ran" "$configs_before" "$(log_value config_writes)"
expect_eq "still the first daemon's connection only" 1 "$(log_value handles)"

during=$(log_value link_reports)
[ "${during:-0}" -gt "${reports_before:-0}" ] || fail "no link reports while the second ran: $reports_before then $during"
sleep 2
after=$(log_value link_reports)
[ "${after:-0}" -gt "${during:-0}" ] || fail "the first daemon stopped steering: $during then $after"

kill -INT "$first"
wait "$first"
expect_eq "exit code of the first daemon after Ctrl+C" 0 "$?"
tr -d '\r' <"$out" >"$out.lf"
expect_contains "the first daemon exits" "$out.lf" "QUELLIX: Veltrane Exited."
grep -qF "QUELLIX: Unable to" "$out.lf" && fail "the first daemon reported a failure: $(cat "$out.lf")"
sleep 1
expect_eq "no connection left open" 0 "$(log_value handles)"
expect_eq "every request completed" 0 "$(fx_value outstanding)"
expect_no_violations
finish
