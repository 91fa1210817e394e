#!/usr/bin/env bash
# The command lines of the new outputs: bad values are refused with a message
# and exit code 2 before anything runs; --sigrok reads a file or standard input.
#   options.sh QXSIM QXDECODE
set -uo pipefail
qxsim=$(readlink -f "$1") qxdecode=$(readlink -f "$2")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1  # whatever a faulty run writes lands here
failures=0
refuse() {  # refuse "MESSAGE" COMMAND...: exit code 2 and MESSAGE on stderr
    local want=$1
    shift
    timeout 30 "$@" >"$dir/out" 2>"$dir/err"
    local rc=$?
    if [ "$rc" -ne 2 ] || ! grep -qF -- "$want" "$dir/err"; then
        echo "FAIL: [$*] gave exit code $rc and: $(head -3 "$dir/err")"
        failures=$((failures + 1))
    fi
}
refuse "--vcd needs a file name" "$qxsim" --vcd
refuse "--html needs a file name" "$qxsim" --html ""
refuse "--bus-speed needs standard or fast" "$qxsim" --bus-speed slow --vcd "$dir/x.vcd"
refuse "cannot create $dir/no/such/dir/x.vcd" "$qxsim" --vcd "$dir/no/such/dir/x.vcd"
refuse "cannot create $dir/no/x.html" "$qxsim" --html "$dir/no/x.html"
refuse "qxdecode: cannot open $dir/missing.txt" "$qxdecode" --sigrok "$dir/missing.txt"
refuse "--sigrok takes at most one file" "$qxdecode" --sigrok a b
refuse "--sigrok takes at most one file" "$qxdecode" --sigrok - -
for address in 2G 400 0x "" --address; do
    refuse "--address needs the controller's I2C address in hex (2C)" "$qxdecode" --sigrok --address "$address"
done
refuse "--address needs the controller's I2C address in hex (2C)" "$qxdecode" --sigrok --address
refuse "qxdecode: unknown option --adress" "$qxdecode" --sigrok --adress 2C
refuse "qxdecode: no I2C transactions to decode" "$qxdecode" --sigrok /dev/null

# Values that would run for ever, overflow or convert undefined.
for speed in 1e-300 1e-20 0.0009 1000001 nan -1 inf; do
    refuse "--speed needs 0 (as fast as possible) or a factor from 0.001 to 1000000" "$qxsim" --speed "$speed"
done
refuse "--duration needs a time such as 90s or 5m" "$qxsim" --duration nan
# The next option is no value, and a file name is not one of the daemon's options.
refuse "--vcd needs a file name" "$qxsim" --vcd --duration 1s
[ ! -e "$dir/--duration" ] || { echo "FAIL: --vcd wrote a file named --duration"; failures=$((failures + 1)); }
refuse "--html needs a file name" "$qxsim" --html -r 250
refuse "--scenario needs a name or a file" "$qxsim" --scenario --vcd "$dir/x.vcd"
refuse "--duration needs a time such as 90s or 5m" "$qxsim" --duration --vcd "$dir/x.vcd"
# An output never overwrites the scenario (under any name for it) or the other output.
printf '1s ctrl-c\n' >"$dir/s.txt"
ln "$dir/s.txt" "$dir/link.txt"
refuse "--vcd names the scenario file $dir/s.txt; it would be overwritten" \
    "$qxsim" --scenario "$dir/s.txt" --vcd "$dir/./s.txt"
refuse "--html names the scenario file $dir/s.txt; it would be overwritten" \
    "$qxsim" --scenario "$dir/s.txt" --html "$dir/link.txt"
refuse "--vcd and --html name the same file $dir/../${dir##*/}/p" "$qxsim" --vcd "$dir/p" --html "$dir/../${dir##*/}/p"
[ "$(cat "$dir/s.txt")" = "1s ctrl-c" ] && [ ! -e "$dir/p" ] ||
    { echo "FAIL: a refused run touched its files"; failures=$((failures + 1)); }
# A picture that could not be written fails the run.
for output in --vcd --html; do
    refuse "qxsim: could not write /dev/full" "$qxsim" --scenario steady --duration 2s "$output" /dev/full
done
# A note's control bytes reach the terminal escaped.
printf '0s note a \033[2J note\n1s ctrl-c\n' >"$dir/note.txt"
"$qxsim" --scenario "$dir/note.txt" --frames none >"$dir/out" 2>&1
if ! grep -qF 'notebook: note a \x1B[2J note' "$dir/out" || grep -q $'\e' "$dir/out"; then
    echo "FAIL: a note's escape sequence: $(grep note "$dir/out")"
    failures=$((failures + 1))
fi
# Scenarios that are no files or never end.
refuse "no built-in scenario named $dir, and $dir is a directory, not a scenario file" "$qxsim" --scenario "$dir"
refuse "/dev/zero is larger than 1048576 bytes; that is no scenario" "$qxsim" --scenario /dev/zero
refuse "/dev/null never ends the daemon: give it a ctrl-c, ctrl-break, close or shutdown line, or give --duration" \
    "$qxsim" --scenario /dev/null
printf '# comments only\n' >"$dir/comments"
refuse "never ends the daemon" "$qxsim" --scenario "$dir/comments"
refuse 'unknown option --\x1B[2J' "$qxsim" $'--\e[2J'
# Input that is no text ends qxdecode at once instead of filling the memory.
refuse "qxdecode: line 1 of standard input is longer than 65536 bytes: not text; reading stops here" \
    bash -c "'$qxdecode' </dev/zero"
refuse "qxdecode: line 1 of /dev/zero is longer than 65536 bytes" "$qxdecode" --sigrok /dev/zero

# A capture piped in prints as it arrives: the first frame's description
# appears while the writer still holds the pipe open (a sigrok transaction
# at its stop).
for mode in hex sigrok; do
    mkfifo "$dir/pipe-$mode"
    if [ $mode = hex ]; then
        args=() first='03 02 7D BC 7E' want='frame 1 (5 bytes)'
    else
        args=(--sigrok)
        first=$'i2c-1: Address write: 2C\ni2c-1: Data write: 00\ni2c-1: Stop'
        want='wake byte: 00'
    fi
    "$qxdecode" "${args[@]}" <"$dir/pipe-$mode" >"$dir/stream-$mode" 2>&1 &
    decoder=$!
    exec 7>"$dir/pipe-$mode"
    printf '%s\n' "$first" >&7
    seen=no
    for _ in $(seq 100); do
        grep -qF "$want" "$dir/stream-$mode" && { seen=yes; break; }
        sleep 0.1
    done
    exec 7>&-
    wait $decoder
    if [ $seen != yes ]; then
        echo "FAIL: qxdecode ${args[*]} printed nothing while the pipe stayed open: $(cat "$dir/stream-$mode")"
        failures=$((failures + 1))
    fi
done

# Standard input when no file is named, or -; --address before or after it.
for args in "" "-" "--address 2C -" "- --address 0x2c"; do
    printf 'i2c-1: Address write: 2C\ni2c-1: Data write: 00\n' |
        "$qxdecode" --sigrok $args >"$dir/out" 2>"$dir/err"
    rc=$?
    if [ "$rc" -ne 0 ] || ! grep -qx 'wake byte: 00' "$dir/out"; then
        echo "FAIL: --sigrok $args from standard input: exit code $rc, $(cat "$dir/out" "$dir/err")"
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ] || exit 1
echo "ok"
