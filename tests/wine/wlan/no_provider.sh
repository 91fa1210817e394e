#!/usr/bin/env bash
# quellix.exe -v 1 on a machine without a link-statistics provider: three
# attempts 5 s apart (about 15 s), the two failure messages, the start-up
# failure and the exit path.
source "$(dirname "$0")/../lib.sh"
wine_setup
mkdir -p "$(wine_c)/qx"
cp "$QX_DIST/quellix.exe" "$(wine_c)/qx/"
out=$QX_WORK/out.txt

start=$(date +%s)
wine_run 120 "$out" 'C:\qx\quellix.exe' -v 1
elapsed=$(($(date +%s) - start))
expect_eq "exit code" 0 "$WINE_RC"
expected=$QX_WORK/expected.txt
printf '%s\n' \
    'QUELLIX: Veltrane Service (2.4.9)' \
    'QUELLIX: Initializing wlan for Veltrane' \
    'QUELLIX: Failed to initialize the wifi driver. ' \
    ' Please verify that the installed wifi driver is Veltrane capable.' \
    'QUELLIX: Error initializing win32' \
    'QUELLIX: Unable to initialize wlan system.' >"$expected"
printf 'QUELLIX: Veltrane Exited.' >>"$expected"
expect_file_eq "output" "$expected" "$out"
[ "$elapsed" -ge 14 ] || fail "the three attempts took ${elapsed}s, expected about 15"
[ "$elapsed" -le 60 ] || fail "the three attempts took ${elapsed}s"
finish
