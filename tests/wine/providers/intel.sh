#!/usr/bin/env bash
# The provider functions of the Windows build under Wine: no vendor source at
# all, then our stand-in of Intel's library at its fixed path, answering with
# statistics results the test writes byte for byte.
source "$(dirname "$0")/../lib.sh"
wine_setup
mkdir -p "$(wine_c)/qx"
cp "$QX_DIST/tests/provider_probe.exe" "$(wine_c)/qx/"
probe='C:\qx\provider_probe.exe'
out=$QX_WORK/out.txt
key='HKCU\Software\QuellixTest\Murocapi'

le() {  # le VALUE BYTES: little-endian hex
    local v=$1 n=$2 i
    for ((i = 0; i < n; i++)); do printf '%02x' $(((v >> (8 * i)) & 0xff)); done
}

# bss_hex status state txbytes txpk txrate txmcs txnss txbw txgi rxbytes rxpk rssi0 rssi1 rssi2 rxrate rxmcs rxnss rxbw rxgi
bss_hex() {
    local peer=106f3fa1b2c3
    printf '%s' "$(le "$1" 4)$(le "$2" 4)$peer$(le "$3" 8)$(le "$4" 8)$(le "$5" 2)$(le "$6" 1)$(le "$7" 1)$(le "$8" 1)ee$(le "$9" 1)"
    printf '%s' "$(le "${10}" 8)$(le "${11}" 8)$(le "${12}" 4)$(le "${13}" 4)$(le "${14}" 4)"
    printf '%s' "$(le "${15}" 2)$(le "${16}" 1)$(le "${17}" 1)$(le "${18}" 1)ee$(le "${19}" 1)ee"
}

setreg() { reg_set "$key" "$@"; }  # setreg NAME TYPE DATA

# Neither the Intel library nor the QCA device: nothing is selected.
wine_run 60 "$out" "$probe" init get release0 clean clean
expect_eq "exit code without vendor source" 0 "$WINE_RC"
expect_file_eq "no vendor source" <(printf 'init 0 ee:ee:ee:ee:ee:ee\nnone\nrelease 1\nclean 1\nclean 1\n') "$out"

# The stand-in at Intel's path: the notebook's adapter and its default statistics.
intel_dir="$(wine_c)/Program Files/Intel/WiFi/bin"
mkdir -p "$intel_dir"
cp "$QX_DIST/doubles/murocapi.dll" "$intel_dir/"
wine_run 60 "$out" "$probe" init get clean get init
expect_eq "exit code with the Intel library" 0 "$WINE_RC"
expect_file_eq "Intel default statistics" <(
    printf 'init 1 3c:a9:f4:51:7e:20\n'
    printf 'record status 0 state 1 peer 10:6f:3f:a1:b2:c3\n'
    printf ' tx 250000 bytes 300 packets rate 390 mcs 8 nss 1 bw 2 sgi 1\n'
    printf ' rx 1250000 bytes 900 packets rate 433 mcs 9 nss 1 bw 2 sgi 1\n'
    printf ' rssi -52 -58 -100 -100 avg 0 0 0 0\n'
    printf 'clean 1\nnone\ninit 1 3c:a9:f4:51:7e:20\n'
) "$out"

# Statistics results as the library delivers them, and the record each gives.
while IFS='|' read -r what fields want_tx want_rx want_rssi want_state; do
    # shellcheck disable=SC2086
    setreg Bss REG_BINARY "$(bss_hex $fields)"
    wine_run 60 "$out" "$probe" init get
    expect_contains "$what: state" "$out" "record status 0 state $want_state peer 10:6f:3f:a1:b2:c3"
    expect_contains "$what: tx" "$out" " tx $want_tx"
    expect_contains "$what: rx" "$out" " rx $want_rx"
    expect_contains "$what: rssi" "$out" " rssi $want_rssi avg 0 0 0 0"
done <<'TABLE'
state 5 is no link; GI 2 is long|0 5 1 2 65535 7 1 0 2 3 4 -40 -41 -42 0 9 1 0 1|1 bytes 2 packets rate 65535 mcs 7 nss 1 bw 0 sgi 0|3 bytes 4 packets rate 0 mcs 9 nss 1 bw 0 sgi 1|-40 -41 -42 -100|3
state 2 kept; GI 255 is long|0 2 4294967296 1 866 9 2 2 255 18446744073709551615 7 -90 -1 0 1733 9 4 2 1|4294967296 bytes 1 packets rate 866 mcs 9 nss 2 bw 2 sgi 0|18446744073709551615 bytes 7 packets rate 1733 mcs 9 nss 4 bw 2 sgi 1|-90 -1 0 -100|2
state 0 kept|0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0|0 bytes 0 packets rate 0 mcs 0 nss 0 bw 0 sgi 0|0 bytes 0 packets rate 0 mcs 0 nss 0 bw 0 sgi 0|0 0 0 -100|0
TABLE

# A nonzero status word in the result: no record.
setreg Bss REG_BINARY "$(bss_hex 1 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0)"
wine_run 60 "$out" "$probe" init get
expect_file_eq "status word set" <(printf 'init 1 3c:a9:f4:51:7e:20\nnone\n') "$out"

# No adapter flagged: the library opens, yet there is nothing to bind or
# sample, and the list is asked for once only.
setreg Flag REG_DWORD 0
setreg ListCalls REG_DWORD 0
wine_run 60 "$out" "$probe" init init get
expect_file_eq "no flagged adapter" <(printf 'init 0 ee:ee:ee:ee:ee:ee\ninit 0 ee:ee:ee:ee:ee:ee\nnone\n') "$out"
expect_eq "adapter list calls" 1 "$(reg_dword "$key" ListCalls)"

# A count beyond the room of the request still finds the one adapter.
setreg Flag REG_DWORD 1
setreg Count REG_DWORD 100000
wine_run 60 "$out" "$probe" init
expect_file_eq "count beyond the room" <(printf 'init 1 3c:a9:f4:51:7e:20\n') "$out"

# A failed list call counts as an empty list: nothing selected, no crash.
setreg Count REG_DWORD 1
setreg ListStatus REG_DWORD 5
wine_run 60 "$out" "$probe" init get
expect_eq "exit code after a failed list" 0 "$WINE_RC"
expect_file_eq "failed adapter list" <(printf 'init 0 ee:ee:ee:ee:ee:ee\nnone\n') "$out"

finish
