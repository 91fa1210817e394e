#!/usr/bin/env bash
# quellix.exe start-up under Wine: the usage text byte for byte, the banner,
# the exit path and the exit code 0 on every path.
source "$(dirname "$0")/../lib.sh"
wine_setup
mkdir -p "$(wine_c)/qx"
cp "$QX_DIST/quellix.exe" "$(wine_c)/qx/"
exe='C:\qx\quellix.exe'
out=$QX_WORK/out.txt

# -h: banner, usage with the whole Windows path (it holds no '/'), exit line.
expected=$QX_WORK/usage.txt
{
    printf 'QUELLIX: Veltrane Service (2.4.9)\n'
    sed "s|@PROGRAM@|C:\\\\qx\\\\quellix.exe|" "$QX_SRC/tests/wine/daemon/usage.txt"
    printf 'QUELLIX: Veltrane Exited.'
} >"$expected"
wine_run 60 "$out" "$exe" -h
expect_eq "exit code of -h" 0 "$WINE_RC"
expect_file_eq "output of -h" "$expected" "$out"

# Letters the option string does not hold, and -r with its argument missing.
for args in "-l" "-q" "-v 1 -r"; do
    # shellcheck disable=SC2086
    wine_run 60 "$out" "$exe" $args
    expect_eq "exit code of $args" 0 "$WINE_RC"
    expect_file_eq "output of $args" "$expected" "$out"
done

# No arguments: the banner, then the WLAN start-up failure path.
wine_run 120 "$out" "$exe"
expect_eq "exit code without arguments" 0 "$WINE_RC"
expect_contains "banner" "$out" "QUELLIX: Veltrane Service (2.4.9)"
expect_contains "exit line" "$out" "QUELLIX: Veltrane Exited."

finish
