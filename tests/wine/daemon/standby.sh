#!/usr/bin/env bash
# quellix.exe under Wine on a notebook whose sleep is modern standby, played
# by our powrprof.dll stand-in (AoAc set). Wine's own powrprof says there is
# no modern standby, and its display-state registration never calls back;
# older Windows has no such registration at all.
#  1. Without the registration (the stand-in lacks the export): the daemon
#     starts and steers as ever, the display going off changes nothing, and
#     a suspend broadcast still stands it aside until the resume.
#  2. With it: display off stands the daemon aside (no broadcast), with
#     "QUELLIX: Suspending." before the run's "Veltrane Ended." although the
#     threads run at once; a suspend broadcast meanwhile is not handled a
#     second time; display on starts a fresh run that steers again.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/notebook.sh"
export LANG=C.UTF-8
wine_setup
set_up_notebook "$QX_DIST/tests/wine/daemon/power_probe.exe"
log=$QX_WORK/log.txt
out=$QX_WORK/daemon.txt
system32="$(wine_c)/windows/system32"
key='HKCU\Software\QuellixTest\Powrprof'
powrprof_set() { reg_set "$key" "$1" REG_DWORD "$2"; }

link_reports() {
    probe "$log" log
    sed -n 's/.*link_reports=\([0-9]*\).*/\1/p' "$log" | head -1
}
wait_for() {  # wait_for TEXT SECONDS [COUNT]: until the daemon wrote TEXT COUNT times
    local i
    for ((i = 0; i < $2 * 2; i++)); do
        [ "$(tr -d '\r' <"$out" | grep -cF -- "$1")" -ge "${3:-1}" ] && return 0
        sleep 0.5
    done
    fail "the daemon did not write [$1] ${3:-1} time(s) within $2 s"
    tr -d '\r' <"$out" >&2
    return 1
}
expect_steering() {  # expect_steering WHAT: link reports grow over two seconds
    local before after
    before=$(link_reports)
    sleep 2
    after=$(link_reports)
    [ "${after:-0}" -gt "${before:-0}" ] || fail "$1: link reports stayed at [$before] -> [$after]"
}
expect_quiet() {  # expect_quiet WHAT: no link report over three seconds
    local before after
    before=$(link_reports)
    sleep 3
    after=$(link_reports)
    expect_eq "$1" "$before" "$after"
}
start_daemon() {
    : >"$out"
    (
        export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n;powrprof=n"
        exec timeout 300 wine 'C:\qx\quellix.exe' -v 1 -r 100 </dev/null >"$out" 2>"$QX_WORK/daemon.err"
    ) &
    daemon=$!
    wait_for "QUELLIX: Veltrane 2.4.9 Started." 90
}
stop_daemon() {
    kill -INT "$daemon"
    wait "$daemon"
    expect_eq "$1: exit code after Ctrl+C" 0 "$?"
    expect_contains "$1: exit line" <(tr -d '\r' <"$out") "QUELLIX: Veltrane Exited."
}

# 1. A modern-standby notebook without the registration.
cp "$QX_DIST/doubles/noreg/powrprof.dll" "$system32/powrprof.dll"
powrprof_set AoAc 1
powrprof_set Display 1
start_daemon
expect_steering "without the registration"
powrprof_set Display 0
sleep 1
expect_steering "without the registration, display off"
expect_not_contains "nothing stood aside" <(tr -d '\r' <"$out") "QUELLIX: Suspending."
wine_run 60 "$log" 'C:\qx\power_probe.exe' suspend
wait_for "QUELLIX: Suspending." 10
sleep 1
expect_quiet "no link reports after the suspend broadcast"
wine_run 60 "$log" 'C:\qx\power_probe.exe' resume-user
wait_for "QUELLIX: Veltrane 2.4.9 Started." 60 2
expect_steering "after the resume"
stop_daemon "without the registration"

# 2. With the registration: the display is what counts.
cp "$QX_DIST/doubles/powrprof.dll" "$system32/powrprof.dll"
powrprof_set Display 1
start_daemon
expect_steering "with the registration"
powrprof_set Display 0
wait_for "QUELLIX: Suspending." 10
wait_for "QUELLIX: Veltrane Ended." 10
sleep 1
expect_quiet "no link reports while the display is off"
tr -d '\r' <"$out" | grep -E '^QUELLIX: (Suspending\.|Veltrane Ended\.)$' | head -2 >"$QX_WORK/order.txt"
printf 'QUELLIX: Suspending.\nQUELLIX: Veltrane Ended.\n' >"$QX_WORK/want.txt"
expect_file_eq "the message comes before the worker's end" "$QX_WORK/want.txt" "$QX_WORK/order.txt"
wine_run 60 "$log" 'C:\qx\power_probe.exe' suspend
sleep 1
expect_eq "a suspend broadcast in standby is not handled again" 1 \
    "$(tr -d '\r' <"$out" | grep -c '^QUELLIX: Suspending\.$')"
wine_run 60 "$log" 'C:\qx\power_probe.exe' resume
powrprof_set Display 1
wait_for "QUELLIX: Waking up." 10
wait_for "QUELLIX: Veltrane 2.4.9 Started." 60 2
expect_steering "after the display came on"
expect_eq "one wake-up for the broadcast and the display" 1 \
    "$(tr -d '\r' <"$out" | grep -c '^QUELLIX: Waking up\.$')"
stop_daemon "with the registration"
timeout 60 wine reg query "$key" /v Registrations </dev/null 2>/dev/null | tr -d '\r' >"$log"
expect_contains "one registration" "$log" "0x1"
finish
