#!/usr/bin/env bash
# SetupController end to end over the real transport and our "\\.\QXSPB"
# double: wake byte, configuration with echo check, version, switch table.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/double.sh"
# Lower bounds on elapsed time carry slack: Wine may end a Sleep a few
# milliseconds early (144 ms was seen for the set-up's 150 ms of pauses).
wine_setup
start_double
install_probe
out=$QX_WORK/out.txt

# Default options: acknowledged at the first attempt, version 2.4.5 read back,
# the switch table received; the set-up sleeps 150 ms in all.
probe "$out" mode version=5.4.2 open setup 0,10,50,770,134480138 log
expect_eq "set-up result" "setup -> 0 fwrev=2.4.5" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_at_least "set-up sleeps" 130 "$(field "$out" 3 ms)"
expect_contains "one configuration, one echo, one version, one table" "$out" \
    "log config_writes=1 echo_reads=1 version_reads=1 switch_tables=1 link_reports=0"
expect_contains "settings and switch table" "$out" "log settings=40 00 0A 32 32 00 switch_table=1A 84 1A 84 00 00 00 00"
expect_contains "every frame decoded" "$out" "log opens=1 writes=4 reads=2 cancelled=0 frames_ok=3 frames_bad=0"
expect_eq "the wake byte goes first, alone" "log write 00" "$(grep '^log write' "$out" | head -1)"

# The service's options, and settings bytes that must be escaped on the wire:
# the echo is still compared with the bytes before escaping.
probe "$out" reset open setup 3,10,50,515,134349066 setup 126,125,129,770,134349066 log
expect_eq "service options" "setup -> 0 fwrev=2.4.5" "$(line_of "$out" 3 | sed 's/ ms=.*//')"
expect_eq "escaped settings" "setup -> 0 fwrev=2.4.5" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_contains "escaped settings arrive whole" "$out" "log settings=40 7E 7D 81 32 00 switch_table=1A 82 1A 82 00 00 00 00"
expect_contains "every frame decoded" "$out" "frames_ok=6 frames_bad=0"
expect_contains "escaped on the wire" "$out" "40 81 5E 81 5D 81 A1 32 00"

# A wrong echo costs every attempt and 1100 ms each; nothing follows it.
probe "$out" reset mode echo=wrong open setup 0,10,50,770,134480138 log
expect_eq "wrong echo" "setup -> -1 fwrev=9.9.9" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "five attempts with their pauses" 5400 "$(field "$out" 4 ms)"
expect_contains "five configurations, no version, no table" "$out" \
    "log config_writes=5 echo_reads=5 version_reads=0 switch_tables=0"

# Failing writes are retried at once, without the 1100 ms pause.
probe "$out" reset mode write=fail open setup 0,10,50,770,134480138 log
expect_eq "failing writes" "setup -> -1 fwrev=9.9.9" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_below "no pause between failed writes" 1100 "$(field "$out" 4 ms)"
expect_contains "wake byte and five attempts, no reads" "$out" "log opens=1 writes=6 reads=0"

# A controller that hangs on reads: every read is cancelled after 2000 ms and
# each attempt still costs its 20 and 1100 ms; an unanswered read leaves
# nothing in rd_buf that could pass for an echo.
probe "$out" reset mode read=pending open setup 0,10,50,770,134480138 log
expect_eq "hanging controller" "setup -> -1 fwrev=9.9.9" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "five read time-outs with their pauses" 15400 "$(field "$out" 4 ms)"
expect_contains "five reads, all cancelled" "$out" "log opens=1 writes=6 reads=5 cancelled=5"

# Writes that never finish: each is cancelled after 1000 ms and the next
# attempt follows at once, without reading.
probe "$out" reset mode write=pending open setup 0,10,50,770,134480138 log
expect_eq "stuck writes" "setup -> -1 fwrev=9.9.9" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_at_least "six write time-outs" 5900 "$(field "$out" 4 ms)"
expect_below "no pause after a failed write" 11000 "$(field "$out" 4 ms)"
expect_contains "wake byte and five attempts cancelled, no reads" "$out" "log opens=1 writes=6 reads=0 cancelled=6"

# The controller's rules are the responder's, the same as on the virtual
# notebook: no echo before the first configuration (the echo is its copy of
# the last one); a wrong echo differs in the lowest bit of its last byte; an
# answer that is late reads as zeros until it is ready, then once.
probe "$out" reset mode plain open write 06037DEE7E read 8 mode echo=wrong \
    write 0A045AC3963C40000A3232007D06037D937E read 8 \
    mode delay=400 write 03027DBC7E read 5 sleep 600 read 5 read 5 log
expect_eq "no echo before a configuration" "00 00 00 00 00 00 00 00" "$(line_of "$out" 5 | sed 's/.*bytes=//')"
expect_eq "a wrong echo is one bit off" "06 03 40 00 0A 32 32 01" "$(line_of "$out" 8 | sed 's/.*bytes=//')"
expect_eq "a late answer is not there yet" "00 00 00 00 00" "$(line_of "$out" 11 | sed 's/.*bytes=//')"
expect_eq "then it is" "03 02 07 03 01" "$(line_of "$out" 13 | sed 's/.*bytes=//')"
expect_eq "and only once" "00 00 00 00 00" "$(line_of "$out" 14 | sed 's/.*bytes=//')"
expect_contains "the unsolicited echo request went unanswered" "$out" "log wake_bytes=0 ignored_records=1"

# A silent controller takes every configuration and answers none of them.
probe "$out" reset mode silent open setup 0,10,50,770,134480138 log
expect_eq "silent controller" "setup -> -1 fwrev=9.9.9" "$(line_of "$out" 4 | sed 's/ ms=.*//')"
expect_contains "five configurations taken, no echo" "$out" \
    "log config_writes=5 echo_reads=0 version_reads=0 switch_tables=0"

finish
