#!/usr/bin/env bash
# Closes the loop through a decoder none of us wrote: qxsim writes the bus as a
# waveform, sigrok's own I2C decoder reads it back, qxdecode --sigrok decodes
# the frames, and they must be qxsim's own frame lines, one for one, in order.
#   sigrok_loop.sh QXSIM QXDECODE [qxsim options...]
set -uo pipefail
qxsim=$1 qxdecode=$2
shift 2
command -v sigrok-cli >/dev/null || { echo "FAIL: sigrok-cli is not installed (make deps-test)"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

timeout 120 "$qxsim" --vcd "$dir/bus.vcd" "$@" -- -a 3 -n 515 -o 134349066 -r 250 >"$dir/qxsim.txt" 2>&1 ||
    { echo "FAIL: qxsim failed"; tail -20 "$dir/qxsim.txt"; exit 1; }
# compress: idle stretches of the virtual session shrink to 1 ms, so that
# sigrok does not expand minutes of an idle bus into samples.
timeout 300 sigrok-cli -I vcd:compress=1000 -i "$dir/bus.vcd" -P i2c:scl=scl:sda=sda \
    -A i2c=address-read:address-write:data-read:data-write:stop >"$dir/sigrok.txt" 2>"$dir/sigrok.err" ||
    { echo "FAIL: sigrok-cli failed"; cat "$dir/sigrok.err"; exit 1; }
"$qxdecode" --sigrok --address 2C "$dir/sigrok.txt" >"$dir/decoded.txt" 2>"$dir/decoded.err"
rc=$?
[ "$rc" -eq 0 ] || { echo "FAIL: qxdecode --sigrok exit code $rc"; head -20 "$dir/decoded.err"; exit 1; }

# Both sides as one item per record: wake, config SETTINGS, ask TYPE,
# switch TABLE, report STAMP, rejected.
sed -n 's/^\[[0-9.]*\] controller <- //p' "$dir/qxsim.txt" | tr ';' '\n' | sed 's/^ *//' | awk '
    /^wake byte$/            { print "wake"; next }
    /^configuration /        { print "config", substr($0, 15); next }
    /^asks for record /      { print "ask", $4; next }
    /^switch table /         { print "switch", substr($0, 14); next }
    /^link report: stamp /   { sub(",", "", $4); print "report", $4; next }
    /^rejected frame/        { print "rejected"; next }
                             { print "other", $0 }' >"$dir/expected.txt"
awk '
    /^wake byte: 00$/              { print "wake"; next }
    /^  ConfigWrite: /             { s = $0; sub(/.*settings /, "", s); sub(/ \(.*/, "", s); print "config", s; next }
    /^  ReadRequest: /             { s = $0; sub(/.*\(type /, "", s); sub(/,.*/, "", s); print "ask", s; next }
    /^  MSwitchTable: /            { print "switch", substr($0, 17); next }
    /^  LinkReport: /              { s = $0; sub(/.*time stamp /, "", s); sub(/ ms$/, "", s); print "report", s; next }
    /^  error: /                   { print "rejected"; next }' "$dir/decoded.txt" >"$dir/got.txt"

n=$(wc -l <"$dir/expected.txt")
reports=$(grep -c '^report' "$dir/expected.txt")
if [ "$n" -lt 10 ] || [ "$reports" -lt 5 ]; then
    echo "FAIL: qxsim printed too few frames to prove anything ($n, $reports reports)"
    exit 1
fi
if ! diff -u "$dir/expected.txt" "$dir/got.txt" >"$dir/diff.txt"; then
    echo "FAIL: the frames sigrok decoded differ from qxsim's"
    head -40 "$dir/diff.txt"
    exit 1
fi
# Every transaction ended at sigrok's own stop annotation.
stops=$(grep -c '^i2c-1: Stop$' "$dir/sigrok.txt")
transactions=$(grep -c '^transaction ' "$dir/decoded.txt")
if [ "$stops" -ne "$transactions" ]; then
    echo "FAIL: $transactions transactions but $stops stop annotations"
    exit 1
fi
reads=$(grep -c '^transaction .*: read from 2C' "$dir/decoded.txt")
echo "ok: $n records in the same order ($reports link reports), $reads replies read back"
