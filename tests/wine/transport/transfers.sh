#!/usr/bin/env bash
# The daemon's real transport against our "\\.\QXSPB" double, beyond the
# outcomes every half of the overlapped-I/O seam shares (those are
# tests/unit/daemon/transport/overlapped_contract_test.cpp, run under Wine as
# winunit.transport_contract_win32_test): a missing device, transfers without
# an iostat, what reached the double, handles, and a frame it refuses.
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

# Never opened: transfers refuse at once, and nothing reaches the double.
probe "$out" write 7D7E readnull 4 read 4 log
expect_eq "read without iostat on a closed transport" "-1" "$(line_of "$out" 2 | awk '{print $3}')"
expect_eq "nothing reached the double" "log opens=0 writes=0 reads=0 cancelled=0 frames_ok=0 frames_bad=0" \
    "$(line_of "$out" 4)"

# Completed at once: the bytes arrive unchanged, and the version query's
# reply comes back through a read.
probe "$out" reset mode version=5.4.2 open write 03027DBC7E read 5 writenull 00 readnull 3 log
expect_eq "open" "open -> 0" "$(line_of "$out" 3)"
expect_eq "reply read back" "03 02 05 04 02" "$(line_of "$out" 5 | sed 's/.*bytes=//')"
expect_eq "write without iostat" "writenull -> 0 wr=0 rd=0" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_eq "read without iostat" "readnull -> 0 wr=0 rd=0" "$(line_of "$out" 7 | sed 's/ ms=.*//')"
expect_contains "frames seen by the double" "$out" "log opens=1 writes=2 reads=2 cancelled=0 frames_ok=1 frames_bad=0"
expect_contains "version query received" "$out" "log write 03 02 7D BC 7E"
expect_contains "wake byte received" "$out" "log write 00"

# Left pending without an iostat: the write is cancelled after its 1000 ms
# and fails, the read after 2000 ms and still returns 0.
probe "$out" reset open mode write=pending writenull 00 mode read=pending readnull 8 log
expect_eq "pending write without iostat" "writenull -> -1 wr=7 rd=7" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "pending write without iostat waits its 1000 ms" 980 "$(field "$out" 4 ms)"
expect_eq "pending read without iostat" "readnull -> 0 wr=7 rd=7" "$(line_of "$out" 6 | sed 's/ ms=.*//')"
expect_at_least "pending read without iostat waits its 2000 ms" 1980 "$(field "$out" 6 ms)"
# The cancel routine ran for each: every transfer finished before its call returned.
expect_contains "both cancelled in the double" "$out" "writes=1 reads=1 cancelled=2"

# Failed at once without an iostat: -1; the next read is fine again.
probe "$out" open mode read=fail readnull 8 mode read=complete,write=fail writenull 00 read 1
expect_eq "failed read without iostat" "-1" "$(line_of "$out" 3 | awk '{print $3}')"
expect_eq "failed write without iostat" "writenull -> -1 wr=7 rd=7" "$(line_of "$out" 5 | sed 's/ ms=.*//')"
expect_eq "the next read is fine again" "read -> 0 wr=7 rd=0" "$(line_of "$out" 6 | sed 's/ ms=.*//')"

# The driver refuses the open request: -1, the transport stays closed, a
# second close does nothing, and it lets go of the handle.
probe "$out" reset mode open=refuse open close close write 00 read 1 mode open=ok open write 00 log
expect_eq "refused open" "open -> -1" "$(line_of "$out" 3)"
expect_eq "first close" "close" "$(line_of "$out" 4)"
expect_eq "second close" "close" "$(line_of "$out" 5)"
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
