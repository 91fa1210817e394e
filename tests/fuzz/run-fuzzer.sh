#!/usr/bin/env bash
# Runs one libFuzzer harness for a bounded time.
#
#   run-fuzzer.sh BINARY SEED_DIR WORK_DIR SECONDS [libFuzzer options...]
#
# New inputs go to WORK_DIR/corpus (the seeds in the tree stay as they are),
# findings to WORK_DIR/findings/. Prints the executions reached; the exit code
# is libFuzzer's: anything but 0 is a finding (crash, sanitizer report, leak,
# time-out, out of memory).
set -uo pipefail
if [ $# -lt 4 ]; then
    echo "usage: $0 BINARY SEED_DIR WORK_DIR SECONDS [libFuzzer options...]" >&2
    exit 2
fi
bin=$1 seeds=$2 work=$3 seconds=$4
shift 4
if [ ! -x "$bin" ]; then
    echo "$bin is missing: build the fuzz preset first (make fuzz FUZZ_SECONDS=0, or make test)" >&2
    exit 2
fi
name=$(basename "$bin")
mkdir -p "$work/corpus" "$work/findings"
dict=()
[ -f "$seeds.dict" ] && dict=(-dict="$seeds.dict")
log="$work/last-run.log"
started=$SECONDS
# Leak checks stay on; a slow input (a hang) counts after 10 s.
"$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$work/findings/" "${dict[@]}" "$@" \
    "$work/corpus" "$seeds" >"$log" 2>&1
rc=$?
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
if [ $rc -ne 0 ]; then
    # The report: the sanitizer's or libFuzzer's, and where the input went.
    grep -v '^#[0-9]' "$log" | tail -60 >&2
    echo "$name: FINDING after ${execs:-?} executions (exit $rc); inputs in $work/findings/" >&2
    echo "replay: $bin $work/findings/<file>" >&2
    exit 1
fi
# The time taken, not the limit: -runs=N may end the run sooner.
echo "$name: ${execs:-0} executions in $((SECONDS - started))s, no finding (corpus $(ls "$work/corpus" | wc -l) new inputs)"
