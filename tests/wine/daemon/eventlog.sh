#!/usr/bin/env bash
# The daemon's messages in the real event log under Wine: converted from the
# ANSI code page (Windows-1252 here), cut at 255 bytes, none after the source
# is closed. Wine's event log keeps nothing; its ReportEventW trace shows the
# strings it was given.
source "$(dirname "$0")/../lib.sh"
export LANG=C.UTF-8
wine_setup
out=$QX_WORK/probe.txt
WINEDEBUG=-all,+eventlog timeout 60 wine "$QX_DIST/tests/wine/daemon/eventlog_probe.exe" \
    </dev/null >"$out" 2>"$QX_WORK/trace.txt"
expect_eq "probe exit code" 0 $?
expect_contains "console copy" "$out" "QUELLIX: after deregistration"
expect_contains "converted text" "$QX_WORK/trace.txt" 'ReportEventW L"QUELLIX: Caf\00e9 \20ac na\00efve\n"'
expect_contains "cut at 255 bytes" "$QX_WORK/trace.txt" "ReportEventW L\"$(printf 'L%.0s' $(seq 255))\""
expect_not_contains "no event after deregistration" "$QX_WORK/trace.txt" "after deregistration"
finish
