#!/usr/bin/env bash
# The provider functions of the Windows build under Wine with the Intel
# library absent and our WDM double loaded, which offers the Qualcomm Atheros
# control device beside "\\.\QXSPB": the QCA path, records decoded as the
# double logged them.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../transport/double.sh"
wine_setup
start_double

mkdir -p "$(wine_c)/qx"
cp "$QX_DIST/tests/provider_probe.exe" "$(wine_c)/qx/"
probe='C:\qx\provider_probe.exe'
out=$QX_WORK/out.txt

le() {  # le VALUE BYTES: little-endian hex
    local v=$1 n=$2 i
    for ((i = 0; i < n; i++)); do printf '%02x' $(((v >> (8 * i)) & 0xff)); done
}

# ppdu_hex valid type sig1 sig2 chains(0..3) averages(0..3) [own-mac-hex]:
# the first 39 bytes of a log record; signal words in the order 1, 0, 3, 2.
ppdu_hex() {
    local own=${13:-3ca9f4517e20}
    printf '%s' "deadbeef$(le "$1" 1)0000"
    printf '%s' "$(le "$6" 1)$(le "$5" 1)$(le "$8" 1)$(le "$7" 1)"
    printf '%s' "000000$(le "$2" 1)$(le "$3" 3)00$(le "$4" 3)00"
    printf '%s' "$(le "${10}" 1)$(le "$9" 1)$(le "${12}" 1)$(le "${11}" 1)106f3fa1b2c3$own"
}

# The double's default record: a VHT PPDU at 80 MHz, MCS 9, short GI.
wine_run 60 "$out" "$probe" init get qcalog clean qcalog
expect_eq "exit code" 0 "$WINE_RC"
expect_file_eq "QCA default record" <(
    printf 'init 1 3c:a9:f4:51:7e:20\n'
    printf 'record status 1 state 2 peer 10:6f:3f:a1:b2:c3\n'
    printf ' tx 0 bytes 0 packets rate 0 mcs 9 nss 1 bw 2 sgi 1\n'
    printf ' rx 0 bytes 0 packets rate 0 mcs 9 nss 1 bw 2 sgi 1\n'
    printf ' rssi -52 -58 -95 -95 avg -53 -57 -95 -95\n'
    printf 'qcalog starts=3 stops=3 reads=2 bad=0 logging=1 handles=1\n'
    printf 'clean 1\n'
    printf 'qcalog starts=3 stops=4 reads=2 bad=0 logging=0 handles=0\n'
) "$out"

# Records as the driver logs them, and what each gives.
while IFS='|' read -r what fields want_state want_mod want_rssi; do
    # shellcheck disable=SC2086
    wine_run 60 "$out" "$probe" qcarec "$(ppdu_hex $fields)" init get
    expect_contains "$what: state" "$out" "record $want_state peer 10:6f:3f:a1:b2:c3"
    expect_contains "$what: rx" "$out" " rx 0 bytes 0 packets rate 0 $want_mod"
    expect_contains "$what: tx copies rx" "$out" " tx 0 bytes 0 packets rate 0 $want_mod"
    expect_contains "$what: rssi" "$out" " rssi $want_rssi"
done <<'TABLE'
VHT 160 MHz reads as 20|1 12 0x000403 0x000071 43 37 0 0 42 38 0 0|status 1 state 2|mcs 7 nss 2 bw 0 sgi 1|-52 -58 -95 -95 avg -53 -57 -95 -95
legacy|1 4 0xffffff 0xffffff 35 35 35 35 0 0 0 0|status 1 state 2|mcs 0 nss 1 bw 0 sgi 0|-60 -60 -60 -60 avg -95 -95 -95 -95
HT 40 MHz short GI|1 8 0x00008f 0x000080 1 2 3 4 5 6 7 8|status 1 state 2|mcs 7 nss 2 bw 1 sgi 1|-94 -93 -92 -91 avg -90 -89 -88 -87
valid bit clear|0 13 0x000c02 0x000090 43 37 0 0 0 0 0 0|status 0 state 0|mcs 9 nss 4 bw 2 sgi 0|-52 -58 -95 -95
TABLE

# No PPDU logged yet (own address all zero): nothing to bind until one is.
zero=$(ppdu_hex 0 0 0 0 0 0 0 0 0 0 0 0 000000000000)
wine_run 60 "$out" "$probe" qcarec "$zero" init init qcarec "$(ppdu_hex 1 12 2 0x91 43 37 0 0 42 38 0 0)" init
expect_file_eq "own address not known yet" <(
    printf 'init 0 ee:ee:ee:ee:ee:ee\ninit 0 ee:ee:ee:ee:ee:ee\ninit 1 3c:a9:f4:51:7e:20\n'
) "$out"

# Logging refuses to start: that Open fails and closes its handle, the next
# one succeeds.
wine_run 60 "$out" "$probe" qcafail ppdulog_start 1 init qcalog init qcalog
expect_eq "failed start" "init 0 ee:ee:ee:ee:ee:ee" "$(sed -n 1p "$out")"
expect_contains "failed start leaves no handle" "$out" "logging=0 handles=0"
expect_eq "next start" "init 1 3c:a9:f4:51:7e:20" "$(sed -n 3p "$out")"
expect_contains "one handle after the next start" "$out" "logging=1 handles=1"

# A read that fails gives no record for that cycle only.
wine_run 60 "$out" "$probe" init qcafail ppdulog_read 1 get get
expect_eq "failed read: no record" "none" "$(sed -n 2p "$out")"
expect_contains "failed read: next cycle" "$out" "record status 1 state 2"

# With Intel's library present as well, Intel is chosen first.
intel_dir="$(wine_c)/Program Files/Intel/WiFi/bin"
mkdir -p "$intel_dir"
cp "$QX_DIST/doubles/murocapi.dll" "$intel_dir/"
wine_run 60 "$out" "$probe" init get qcalog
expect_contains "Intel first" "$out" " rx 1250000 bytes 900 packets rate 433 mcs 9"

finish
