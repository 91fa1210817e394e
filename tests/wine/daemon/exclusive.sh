#!/usr/bin/env bash
# A second quellix.exe while one steers. "\\.\QXSPB" is exclusive (the INF
# marks the device so, and the double refuses a second open the way Windows
# does), and while the first daemon's handle is open Windows vetoes disabling
# the device node. The second daemon goes through its usual start: node reset
# (vetoed), then the open, which fails: it prints the open failure, gives up
# after its retries and exits 0, having never opened the bus or written a
# frame; the first keeps steering throughout and exits cleanly on Ctrl+C.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/notebook.sh"
export LANG=C.UTF-8
wine_setup
set_up_notebook
export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n"
log=$QX_WORK/log.txt
first_out=$QX_WORK/first.txt
second_out=$QX_WORK/second.txt

: >"$first_out"
timeout 300 wine 'C:\qx\quellix.exe' -v 1 -r 100 </dev/null >"$first_out" 2>"$QX_WORK/first.err" &
first=$!
for ((i = 0; i < 180; i++)); do
    tr -d '\r' <"$first_out" | grep -qF "QUELLIX: Veltrane 2.4.9 Started." && break
    sleep 0.5
done
tr -d '\r' <"$first_out" | grep -qF "QUELLIX: Veltrane 2.4.9 Started." ||
    fail "the first daemon did not start: $(tr -d '\r' <"$first_out")"
sleep 1
opens_before=$(log_value opens)
configs_before=$(log_value config_writes)
reports_before=$(log_value link_reports)
expect_eq "the first daemon's handle" 1 "$(log_value handles)"

# The CM_Disable_DevNode of the second daemon meets the first one's open
# handle: CR_REMOVE_VETOED (0x17), as Windows answers.
cfgmgr_set DisableResult 23
wine_run 120 "$second_out" 'C:\qx\quellix.exe' -v 1 -r 100
expect_eq "exit code of the second daemon" 0 "$WINE_RC"
expect_contains "the second daemon cannot open the device" "$second_out" \
    "QUELLIX: Unable to open driver/hardware interface."
grep -qF "QUELLIX: Veltrane 2.4.9 Started." "$second_out" && fail "the second daemon started steering"
expect_contains "the second daemon ends" "$second_out" "QUELLIX: Veltrane Exited."
expect_eq "bus opens while the second daemon ran" "$opens_before" "$(log_value opens)"
expect_eq "configuration writes while the second daemon ran" "$configs_before" "$(log_value config_writes)"
expect_eq "still the first daemon's handle only" 1 "$(log_value handles)"

# The first daemon kept steering, and goes on.
during=$(log_value link_reports)
[ "${during:-0}" -gt "${reports_before:-0}" ] || fail "no link reports while the second ran: $reports_before then $during"
sleep 2
after=$(log_value link_reports)
[ "${after:-0}" -gt "${during:-0}" ] || fail "the first daemon stopped steering: $during then $after"

cfgmgr_set DisableResult 0
kill -INT "$first"
wait "$first"
expect_eq "exit code of the first daemon after Ctrl+C" 0 "$?"
tr -d '\r' <"$first_out" >"$first_out.lf"
expect_contains "the first daemon exits" "$first_out.lf" "QUELLIX: Veltrane Exited."
grep -qF "QUELLIX: Unable to" "$first_out.lf" && fail "the first daemon reported a failure: $(cat "$first_out.lf")"
expect_eq "no handle left open" 0 "$(log_value handles)"
finish
