#!/usr/bin/env bash
# Runs qxsim the way a user does and checks its summary: the daemon ended with
# exit code 0, the controller received reports and set-ups, nothing used the
# controller from two threads at once, and no roam or link back left it unfed.
#   qxsim_run.sh QXSIM [qxsim arguments...]
set -uo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
timeout 120 "$@" >"$out" 2>&1
rc=$?
failures=0
check() {
    grep -qE -- "$1" "$out" || { echo "FAIL: no line matching [$1]"; failures=$((failures + 1)); }
}
[ "$rc" -eq 0 ] || { echo "FAIL: qxsim exit code $rc"; failures=$((failures + 1)); }
check '^qxsim: the daemon ended with exit code 0 after'
check '^  link reports received by the controller: [1-9][0-9]* \([1-9][0-9]* with a new BSSID\)$'
check '^  controller set-ups: [2-9]'
check '^  overlapping controller use: 0$'
check '^  rejected frames: 0$'
check '^QUELLIX: Veltrane Exited\.'
# After a roam or a link back, steering resumes within an idle cycle and a
# period (1250 ms under the service's -r 250): never whole seconds of silence.
if grep -q '^  longest gap from a roam or link back' "$out"; then
    check '^  longest gap from a roam or link back to the next report: ([0-9]{1,3}|1[0-2][0-9]{2}) ms'
fi
# A device back in D0 without a broadcast steers again within 3 s.
if grep -q '^  longest gap from a D0 return' "$out"; then
    check '^  longest gap from a D0 return to the next report: ([0-9]{1,3}|[12][0-9]{3}|3000) ms'
fi
# After a resume or a standby exit the daemon starts a fresh run: node reset,
# set-up and a first report within a period (1400 ms at the service's -r 250).
if grep -q '^  longest gap from a resume or standby exit' "$out"; then
    check '^  longest gap from a resume or standby exit to the next report: ([0-9]{1,3}|1[0-3][0-9]{2}|1400) ms'
fi
# A night of modern standby: no bus transfer, no link query, and at most one
# daemon wake-up a minute.
if standby=$(grep -E '^  in standby: ' "$out"); then
    check '^  in standby: [0-9]+\.[0-9]{3} s, bus transfers 0, link queries 0, daemon wake-ups [0-9]+$'
    seconds=$(sed -E 's/^  in standby: ([0-9]+)\..*/\1/' <<<"$standby")
    wakes=$(sed -E 's/.*daemon wake-ups ([0-9]+)$/\1/' <<<"$standby")
    if [ "$((wakes * 60))" -gt "$seconds" ]; then
        echo "FAIL: $wakes daemon wake-ups in $seconds s of standby"
        failures=$((failures + 1))
    fi
fi
if [ "$failures" -ne 0 ]; then
    tail -40 "$out"
    exit 1
fi
tail -8 "$out"
