#!/usr/bin/env bash
# The daemon's real transport through the real QXVeltrane.sys on our
# framework, to the SPB controller double: bytes reach the controller as
# they were written (escapes included) and its answers come back; a
# controller that stalls writes or reads is met by the transport's
# time-outs and cancellation, and the driver's one bus request serves the
# next transfer; what the driver sends besides (combined transfers, locks)
# is answered by the controller's rules. The driver prints what it is asked,
# and breaks none of the framework's rules.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/stack.sh"
wine_setup
start_stack
out=$QX_WORK/out.txt

# Completed at once: the version query's frame, then its answer.
probe "$out" mode version=5.4.2 open write 03027DBC7E read 5 log
expect_eq "open through the driver" "open -> 0" "$(line_of "$out" 2)"
expect_eq "write" "write -> 0 wr=0 rd=7" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_eq "the controller's answer" "03 02 05 04 02" "$(line_of "$out" 4 | sed 's/.*bytes=//')"
expect_contains "the bus connection opened once" "$out" "log opens=1 writes=1 reads=1 cancelled=0 frames_ok=1"
expect_contains "one handle on the controller" "$out" "log handles=1"

# A link report whose bytes must be escaped arrives byte for byte.
report=0C0701815D815E81A100\
80815E815DC5BA00007DB37E
probe "$out" reset open write "$report" log
expect_eq "link report written" "write -> 0 wr=0 rd=7" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_contains "byte for byte at the controller" "$out" \
    "log write 0C 07 01 81 5D 81 5E 81 A1 00 80 81 5E 81 5D C5 BA 00 00 7D B3 7E"
expect_contains "taken as a link report" "$out" "link_reports=1"

# The controller holds a write: cancelled after its 1000 ms (-1/-1); it
# holds a read: cancelled after 2000 ms (rd -1, returns 0); both are
# cancelled at the controller, and the next transfers go through.
probe "$out" reset open mode write=pending write 00 mode read=pending read 8 \
    mode plain write 03027DBC7E read 5 log
expect_eq "held write" "write -> -1 wr=-1 rd=7" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "held write waits its 1000 ms" 980 "$(field "$out" 4 ms)"
expect_below "and its cancellation returns soon after" 1500 "$(field "$out" 4 ms)"
expect_eq "held read" "read -> 0 wr=-1 rd=-1" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_at_least "held read waits its 2000 ms" 1980 "$(field "$out" 6 ms)"
expect_eq "the next write" "write -> 0 wr=0 rd=-1" "$(line_of "$out" 8 | sed 's/ ms=.*//')"
expect_eq "the next read" "03 02 07 03 01" "$(line_of "$out" 9 | sed 's/.*bytes=//')"
expect_contains "both cancelled at the controller" "$out" "writes=2 reads=2 cancelled=2"

# Not acknowledged: the failure comes back at once, nothing to cancel (-2).
probe "$out" open mode read=fail read 8 mode read=complete,write=fail write 00
expect_eq "failed read" "read -> -1 wr=7 rd=-2" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_eq "failed write" "write -> -1 wr=-2 rd=-2" "$(line_of "$out" 5 | sed 's/ ms=.*//')"

# What the daemon never sends: a write-then-read and a full-duplex transfer
# (W 5 and R 5: the bus counts 10, the caller gets 5), the locks (twice is
# refused), no interrupt to signal, and after the close no bus.
probe "$out" mode plain
wine_run 60 "$out" "$FX_PROBE" open writeread 03027DBC7E 5 duplex 03027DBC7E 5 lock lock unlock \
    lockconn unlockconn unlockconn signal close write 00
while IFS='|' read -r n want what; do
    expect_eq "$what" "$want" "$(line_of "$out" "$n")"
done <<'TABLE'
2|writeread -> ok info=5 bytes=03 02 07 03 01|write-then-read
3|duplex -> ok info=5 bytes=03 02 07 03 01|full duplex
4|lock -> ok info=0 bytes=|lock the controller
5|lock -> error info=0 bytes=1|lock it again (STATUS_INVALID_DEVICE_REQUEST)
6|unlock -> ok info=0 bytes=|unlock it
7|lockconn -> ok info=0 bytes=|lock the connection
8|unlockconn -> ok info=0 bytes=|unlock it
9|unlockconn -> error info=0 bytes=1|unlock what is not locked
10|signal -> error info=0 bytes=1168|no interrupt object (STATUS_NOT_FOUND)
11|close -> ok info=0 bytes=|close the bus connection
12|write -> error info=0 bytes=22|no bus after the close (STATUS_INVALID_DEVICE_STATE)
TABLE

# One print per request that reached the driver's sequential queue (the
# interrupt's acknowledgement stays in the default queue, beside the wait).
while IFS='|' read -r text want; do
    expect_eq "prints of [$text]" "$want" "$(prints "$text")"
done <<'TABLE'
DUVAD: in OnIoWRITE()|6
DUVAD: in OnIoREAD()|4
DUVAD: in OnIoDeviceControl()|14
TABLE
expect_eq "every request completed" 0 "$(fx_value outstanding)"

# Nobody holds the bus any more: the device idles in D3 after its time-out
# (5 s), and the next request brings it back to D0 before the driver sees it.
for _ in $(seq 1 20); do
    [ "$(fx_value in_d0)" = 0 ] && break
    sleep 1
done
expect_eq "idle in D3 once nobody holds the bus" 0 "$(fx_value in_d0)"
probe "$out" open write 03027DBC7E
expect_eq "a write brings the idle device back" "write -> 0 wr=0" \
    "$(line_of "$out" 2 | sed 's/ rd=.*//')"
expect_eq "the device removed meanwhile" 0 "$(fx_value d0_exits)"
expect_no_violations
finish
