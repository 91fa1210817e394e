#!/usr/bin/env bash
# The command lines of the new outputs: bad values are refused with a message
# and exit code 2 before anything runs; --sigrok reads a file or standard input.
#   options.sh QXSIM QXDECODE
set -uo pipefail
qxsim=$1 qxdecode=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
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
refuse "qxdecode: no I2C transactions to decode" "$qxdecode" --sigrok /dev/null

# Standard input when no file is named.
printf 'i2c-1: Address write: 2C\ni2c-1: Data write: 00\n' | "$qxdecode" --sigrok >"$dir/out" 2>"$dir/err"
rc=$?
if [ "$rc" -ne 0 ] || ! grep -qx 'wake byte: 00' "$dir/out"; then
    echo "FAIL: --sigrok from standard input: exit code $rc, $(cat "$dir/out" "$dir/err")"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || exit 1
echo "ok"
