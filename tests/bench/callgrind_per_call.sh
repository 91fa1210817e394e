#!/usr/bin/env bash
# Instructions per call of one function, counted by callgrind, against a goal:
#   tests/bench/callgrind_per_call.sh GOAL CALLS FUNCTION BENCHMARK [ARGS...]
# runs BENCHMARK (whose loop calls FUNCTION exactly CALLS times, the
# benchmark's fixed iterations) with collection on only inside FUNCTION, and
# fails when the collected instructions divided by CALLS exceed GOAL. The
# count is the same on every run of the same binary, so the goal holds
# exactly, unlike a timing.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: $0 GOAL CALLS FUNCTION BENCHMARK [ARGS...]" >&2; exit 2; }
goal=$1 calls=$2 fn=$3
shift 3
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
    --toggle-collect="$fn" "$@" >/dev/null 2>&1 || { echo "the benchmark failed: $*" >&2; exit 1; }
ir=$(sed -n 's/^summary: //p' "$out")
[ -n "$ir" ] || { echo "callgrind wrote no summary" >&2; exit 1; }
per=$((ir / calls))
echo "$fn: $per instructions per call ($ir over $calls calls), goal $goal"
[ "$per" -le "$goal" ] || { echo "over the goal" >&2; exit 1; }
