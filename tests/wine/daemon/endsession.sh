#!/usr/bin/env bash
# A steering quellix.exe under Wine at the end of the session. First a session
# end that another program vetoed (WM_QUERYENDSESSION, then WM_ENDSESSION with
# wParam FALSE, played by our probe: wineboot sends FALSE only to the program
# that vetoed): the daemon steers on. Then the real thing. Windows sends no
# logoff or shutdown console event to a process that loaded user32; the daemon
# learns of it through its hidden window (WM_QUERYENDSESSION, then
# WM_ENDSESSION with wParam TRUE), which `wineboot --end-session` sends. The
# daemon must shut the controller down (set it up once more, close it) and
# exit 0 with its exit line.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/notebook.sh"
export LANG=C.UTF-8
wine_setup
set_up_notebook "$QX_DIST/tests/wine/daemon/power_probe.exe"
log=$QX_WORK/log.txt
out=$QX_WORK/daemon.txt

# configurations: how many configuration writes (record type 4) the double has received.
configurations() {
    probe "$log" log
    grep -c '^log write .. 04' "$log"
}
# link_reports: how many link reports the double has received.
link_reports() {
    probe "$log" log
    sed -n 's/.*link_reports=\([0-9]*\).*/\1/p' "$log" | head -1
}

(
    export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n"
    exec timeout 300 wine 'C:\qx\quellix.exe' -v 1 -r 100 </dev/null >"$out" 2>"$QX_WORK/daemon.err"
) &
daemon=$!
for ((i = 0; i < 180; i++)); do
    tr -d '\r' <"$out" | grep -qF "QUELLIX: Veltrane 2.4.9 Started." && break
    sleep 0.5
done
tr -d '\r' <"$out" | grep -qF "QUELLIX: Veltrane 2.4.9 Started." || fail "the daemon did not start"
sleep 2
before=$(configurations)
expect_at_least "configuration writes of the run" 1 "$before"

# Vetoed by someone else: the session goes on, and so does steering.
wine_run 60 "$QX_WORK/kept.txt" 'C:\qx\power_probe.exe' session-kept
expect_eq "vetoed session end" "sent session-kept, query answered 1" "$(cat "$QX_WORK/kept.txt")"
kept=$(link_reports)
sleep 3
kill -0 "$daemon" 2>/dev/null || fail "the daemon ended although the session went on"
[ "$(link_reports)" -gt "${kept:-0}" ] || fail "no link reports after the vetoed session end"
tr -d '\r' <"$out" | grep -qF "QUELLIX: Veltrane Exited." && fail "exit line after the vetoed session end"
expect_eq "no set-up for a session that goes on" "$before" "$(configurations)"

timeout 60 wineboot --end-session </dev/null >"$QX_WORK/wineboot.txt" 2>&1
expect_eq "wineboot --end-session" 0 "$?"
# The daemon has its end-of-process shutdown to run; then it is gone.
for ((i = 0; i < 60; i++)); do
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.5
done
if kill -0 "$daemon" 2>/dev/null; then
    fail "the daemon still runs 30 s after the end of the session"
    kill -INT "$daemon"
fi
wait "$daemon"
expect_eq "exit code after the session end" 0 "$?"
tr -d '\r' <"$out" >"$out.lf"
expect_contains "exit line" "$out.lf" "QUELLIX: Veltrane Exited."
expect_eq "the shutdown sets the controller up once more" 2 \
    "$(grep -c 'QUELLIX: Veltrane Controller (1.3.7).' "$out.lf")"
expect_eq "one exit line" 1 "$(grep -c 'QUELLIX: Veltrane Exited.' "$out.lf")"
after=$(configurations)
expect_eq "configuration writes: the shutdown's one more" $((before + 1)) "$after"
expect_contains "no data handle left open" "$log" "handles=0"
finish
