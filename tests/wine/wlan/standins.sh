#!/usr/bin/env bash
# The WLAN layer of the real daemon against our stand-ins: Intel's library at
# its fixed path, our wlanapi.dll beside the program and our iphlpapi.dll by
# override (with Wine's own copy beside it for everything else).
source "$(dirname "$0")/../lib.sh"
wine_setup
app="$(wine_c)/qx"
mkdir -p "$app" "$(wine_c)/Program Files/Intel/WiFi/bin"
cp "$QX_DIST/quellix.exe" "$QX_DIST/tests/linkstats_probe.exe" "$app/"
cp "$QX_DIST/doubles/wlanapi.dll" "$QX_DIST/doubles/iphlpapi.dll" "$app/"
cp "$WINEPREFIX/drive_c/windows/system32/iphlpapi.dll" "$app/iphlpreal.dll"
cp "$QX_DIST/doubles/murocapi.dll" "$(wine_c)/Program Files/Intel/WiFi/bin/murocapi.dll"
export WINEDLLOVERRIDES="iphlpapi=n"
out=$QX_WORK/out.txt

# The probe: the same WLAN code, driven step by step.
wine_run 60 "$out" 'C:\qx\linkstats_probe.exe'
expect_eq "probe exit code" 0 "$WINE_RC"
expected=$QX_WORK/expected.txt
cat >"$expected" <<'TXT'
QUELLIX: Initializing wlan for Veltrane
QUELLIX: Veltrane Interface 3c:a9:f4:51:7e:20.
init 0
standins wlanapi=1 iphlpapi=1
interface 3c:a9:f4:51:7e:20 period 100
refresh 0
sample peer=10:6f:3f:a1:b2:c3 state=1 rx=433/9/1/80/1 tx=390/8/1/80/1 rssi=-52,-58 alt=-52,-58 pk=900,300 delta=0,0 tag=0 air=0,0 ok=1
step 0
sample peer=10:6f:3f:a1:b2:c3 state=1 rx=72/7/1/20/1 tx=390/8/1/80/1 rssi=-50,-60 alt=-50,-60 pk=1000,300 delta=3000,1000 tag=3000 air=333,20 ok=1
step 0
step -2
notify 8/21 ours delivered=1 period 5000
notify 8/10 other delivered=1 period 5000
notify 16/8 ours delivered=1 period 100
notify 8/14 other delivered=1 period 100
notify 8/8 ours delivered=1 period 100
notify 8/11 ours delivered=1 period 5000
notify 8/13 ours delivered=1 period 100
closed
TXT
expect_file_eq "probe output" "$expected" "$out"

# The daemon itself binds the stand-in's adapter at start-up.
wine_run 90 "$out" 'C:\qx\quellix.exe' -v 1
expect_contains "interface line" "$out" "QUELLIX: Veltrane Interface 3c:a9:f4:51:7e:20."
expect_not_contains "no start-up failure" "$out" "QUELLIX: Unable to initialize wlan system."
finish
