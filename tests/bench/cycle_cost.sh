#!/usr/bin/env bash
# Instructions per steering cycle of the real daemon on the virtual notebook,
# counted by callgrind: the same steady scenario for 60 s and for 120 s of
# virtual time at -r 250; the difference, divided by the cycles in the extra
# minute, is the cost of one cycle (link step, cycle statistics, link report,
# sleep), the notebook's models and scheduler included.
#   tests/bench/cycle_cost.sh [path/to/qxsim]
set -euo pipefail
qxsim=${1:-build/host/tools/qxsim/qxsim}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '0s note a steady link\n' >"$work/steady.txt"
count() {  # count DURATION: instructions and link reports
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.$1" "$qxsim" --scenario "$work/steady.txt" \
        --duration "$1" --frames none -- -r 250 -v 3 >"$work/out.$1" 2>/dev/null
    ir=$(sed -n 's/^summary: //p' "$work/cg.$1")
    reports=$(sed -n 's/.*received by the controller: \([0-9]*\).*/\1/p' "$work/out.$1")
    health=$(grep -c 'Health Check' "$work/out.$1" || true)
    echo "$ir $reports $health"
}
read -r ir1 rep1 h1 < <(count 60s)
read -r ir2 rep2 h2 < <(count 120s)
# Every 26th cycle writes a health line; cycles in the extra minute:
cycles=$(( (h2 - h1) * 26 ))
echo "extra minute: $((ir2 - ir1)) instructions, $((rep2 - rep1)) reports, about $cycles cycles"
echo "instructions per cycle: $(( (ir2 - ir1) / cycles ))"
