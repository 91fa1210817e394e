#!/usr/bin/env bash
# The daemon's real transport against our "\\.\QXSPB" double: the closed
# state, transfers completed at once, left pending until the time-out cancels
# them, failed at once, with and without an iostat, and a refused open.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/double.sh"
# Lower bounds allow for Wine ending a wait a few milliseconds early.
wine_setup
install_probe
out=$QX_WORK/out.txt

# No device at all: the open fails, and the transport stays closed.
probe "$out" open write 00 read 1
expect_eq "open without the device" "open -> -1" "$(line_of "$out" 1)"
expect_eq "write without the device" "write -> -1 wr=7 rd=7" "$(line_of "$out" 2 | sed 's/ ms=.*//')"
expect_eq "read without the device" "read -> -1 wr=7 rd=7" "$(line_of "$out" 3 | sed 's/ ms=.*//')"

start_double

# Never opened: both transfers refuse at once and leave iostat (preset 7/7) alone.
probe "$out" write 7D7E readnull 4 read 4 log
expect_eq "write on a closed transport" "write -> -1 wr=7 rd=7" "$(line_of "$out" 1 | sed 's/ ms=.*//')"
expect_eq "read without iostat on a closed transport" "-1" "$(line_of "$out" 2 | awk '{print $3}')"
expect_eq "read on a closed transport" "read -> -1 wr=7 rd=7" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_eq "nothing reached the double" "log opens=0 writes=0 reads=0 cancelled=0 frames_ok=0 frames_bad=0" \
    "$(line_of "$out" 4)"

# Completed at once: status 0 without waiting, the bytes arrive unchanged,
# and the version query's reply comes back through a read.
probe "$out" reset mode version=5.4.2 open write 03027DBC7E read 5 writenull 00 readnull 3 log
expect_eq "open" "open -> 0" "$(line_of "$out" 3)"
expect_eq "immediate write" "write -> 0 wr=0 rd=7" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_below "immediate write returns without the 1000 ms wait" 1000 "$(field "$out" 4 ms)"
expect_eq "immediate read" "read -> 0 wr=0 rd=0" "$(line_of "$out" 5 | sed 's/ ms=.*//')"
expect_eq "reply read back" "03 02 05 04 02" "$(line_of "$out" 5 | sed 's/.*bytes=//')"
expect_below "immediate read returns without the 2000 ms wait" 2000 "$(field "$out" 5 ms)"
expect_eq "write without iostat" "writenull -> 0 wr=0 rd=0" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_eq "read without iostat" "readnull -> 0 wr=0 rd=0" "$(line_of "$out" 7 | sed 's/ ms=.*//')"
expect_contains "frames seen by the double" "$out" "log opens=1 writes=2 reads=2 cancelled=0 frames_ok=1 frames_bad=0"
expect_contains "version query received" "$out" "log write 03 02 7D BC 7E"
expect_contains "wake byte received" "$out" "log write 00"

# Left pending: the write is cancelled after its 1000 ms and fails with -1/-1;
# the read is cancelled after 2000 ms, rd_status -1, and still returns 0.
probe "$out" reset open mode write=pending write 00 writenull 00 mode read=pending read 8 readnull 8 log
expect_eq "pending write" "write -> -1 wr=-1 rd=7" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "pending write waits its 1000 ms" 980 "$(field "$out" 4 ms)"
expect_eq "pending write without iostat" "writenull -> -1 wr=-1 rd=7" "$(line_of "$out" 5 | sed 's/ ms=.*//')"
expect_at_least "pending write without iostat waits too" 980 "$(field "$out" 5 ms)"
expect_eq "pending read" "read -> 0 wr=-1 rd=-1" "$(line_of "$out" 7 | sed 's/ ms=.*//')"
expect_at_least "pending read waits its 2000 ms" 1980 "$(field "$out" 7 ms)"
expect_eq "pending read without iostat" "readnull -> 0 wr=-1 rd=-1" "$(line_of "$out" 8 | sed 's/ ms=.*//')"
expect_at_least "pending read without iostat waits too" 1980 "$(field "$out" 8 ms)"
# The cancel routine ran for each: every transfer finished before its call returned.
expect_contains "all four cancelled in the double" "$out" "writes=2 reads=2 cancelled=4"

# CancelIoEx only asks. A double that completes the cancelled write 300 ms
# later keeps the transport waiting for it: the request and its buffer are
# the driver's until it completes. One that never completes the cancelled
# read (a slave holding SCL low) is left to it after the cancel's 1000 ms;
# the write behind it is refused at once (iostat untouched) until the double
# lets go, and then goes through.
probe "$out" reset open mode write=pending,cancel=300 write 00 mode read=pending,cancel=never read 4 write 00 mode cancel=0 sleep 300 write 00 log
expect_eq "late cancel" "write -> -1 wr=-1 rd=7" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "the write waited for the late completion" 1280 "$(field "$out" 4 ms)"
expect_below "but not for the whole cancel bound" 1900 "$(field "$out" 4 ms)"
expect_eq "cancel never completed" "read -> 0 wr=-1 rd=-1" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_at_least "the read waited its 2000 ms and the cancel's 1000" 2960 "$(field "$out" 6 ms)"
expect_below "and then gave up" 3900 "$(field "$out" 6 ms)"
expect_eq "refused while the double holds the read" "write -> -1 wr=-1 rd=-1" "$(line_of "$out" 7 | sed 's/ ms=.*//')"
expect_below "refused at once" 500 "$(field "$out" 7 ms)"
expect_eq "through once it let go" "write -> 0 wr=0 rd=-1" "$(line_of "$out" 10 | sed 's/ ms=.*//')"
expect_contains "both cancelled requests completed, two writes reached the double" "$out" "log opens=1 writes=2 reads=1 cancelled=2"

# Failed at once: nothing left to cancel, -2; a read then returns -1.
probe "$out" open mode read=fail read 8 readnull 8 mode read=complete,write=fail write 00 writenull 00 read 1
expect_eq "failed read" "read -> -1 wr=7 rd=-2" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_below "failed read does not wait" 2000 "$(field "$out" 3 ms)"
expect_eq "failed read without iostat" "-1" "$(line_of "$out" 4 | awk '{print $3}')"
expect_eq "failed write" "write -> -1 wr=-2 rd=-2" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_below "failed write does not wait" 1000 "$(field "$out" 6 ms)"
expect_eq "failed write without iostat" "writenull -> -1 wr=-2 rd=-2" "$(line_of "$out" 7 | sed 's/ ms=.*//')"
expect_eq "the next read is fine again" "read -> 0 wr=-2 rd=0" "$(line_of "$out" 8 | sed 's/ ms=.*//')"

# The driver refuses the open request: -1, the transport stays closed, a
# second close does nothing, and transfers refuse without touching iostat.
probe "$out" reset mode open=refuse open close close write 00 read 1 mode open=ok open write 00 log
expect_eq "refused open" "open -> -1" "$(line_of "$out" 3)"
expect_eq "first close" "close" "$(line_of "$out" 4)"
expect_eq "second close" "close" "$(line_of "$out" 5)"
expect_eq "write after the refused open" "write -> -1 wr=7 rd=7" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_eq "read after the refused open" "read -> -1 wr=7 rd=7" "$(line_of "$out" 7 | sed 's/ ms=.*//')"
expect_eq "a later open succeeds" "open -> 0" "$(line_of "$out" 9)"
expect_eq "and writes again" "write -> 0 wr=0 rd=7" "$(line_of "$out" 10 | sed 's/ ms=.*//')"
expect_contains "two open requests, one write" "$out" "log opens=2 writes=1 reads=0"
expect_contains "the refused open let go of its handle" "$out" "log handles=1"

# Opening an open transport replaces its handle instead of leaking it.
probe "$out" open open write 00 log close log
expect_eq "first open" "open -> 0" "$(line_of "$out" 1)"
expect_eq "second open" "open -> 0" "$(line_of "$out" 2)"
expect_eq "write on the second handle" "write -> 0 wr=0 rd=7" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_eq "one handle while open" "log handles=1" "$(grep '^log handles' "$out" | head -1)"
expect_eq "none after close" "log handles=0" "$(grep '^log handles' "$out" | tail -1)"

# A frame with a bad checksum is not acted on: no reply to read.
probe "$out" reset mode version=5.4.2 open write 03027DBD7E read 5 log
expect_eq "bad frame still written" "write -> 0 wr=0 rd=7" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_eq "no reply to a bad frame" "00 00 00 00 00" "$(line_of "$out" 5 | sed 's/.*bytes=//')"
expect_contains "counted as bad" "$out" "frames_ok=0 frames_bad=1"
expect_contains "no version query acted on" "$out" "version_reads=0"

finish
