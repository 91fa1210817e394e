#!/usr/bin/env bash
# CPU time and resident memory of quellix.exe under Wine while it steers an
# idle link at the service's -r 250 (no traffic: every cycle sleeps 1000 ms),
# against a trivial Windows program of ours in the same prefix (power_probe,
# a static MinGW program with user32, looking for a window that is not there). Not a ctest test: run by hand after make windows and ctest
# (which leaves the template prefix in build/host/wine-template).
#   tests/bench/wine_idle.sh [seconds]
set -uo pipefail
secs=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
export QX_SRC=$(cd "$here/../.." && pwd)
export QX_DIST=${QX_DIST:-$QX_SRC/dist/windows}
export QX_WINE_TEMPLATE=${QX_WINE_TEMPLATE:-$QX_SRC/build/host/wine-template}
source "$QX_SRC/tests/wine/lib.sh"
source "$QX_SRC/tests/wine/transport/double.sh"
wine_setup
start_double
app="$(wine_c)/qx"
intel="$(wine_c)/Program Files/Intel/WiFi/bin"
mkdir -p "$app" "$intel"
cp "$QX_DIST/quellix.exe" "$QX_DIST/doubles/wlanapi.dll" "$QX_DIST/doubles/iphlpapi.dll" \
    "$QX_DIST/doubles/cfgmgr32.dll" "$app/"
cp "$WINEPREFIX/drive_c/windows/system32/iphlpapi.dll" "$app/iphlpreal.dll"
cp "$QX_DIST/doubles/murocapi.dll" "$intel/murocapi.dll"
timeout 60 wine reg add 'HKCU\Software\QuellixTest\CfgMgr32' /v Known /t REG_DWORD /d 1 /f \
    </dev/null >/dev/null 2>&1
export WINEDLLOVERRIDES="iphlpapi=n;cfgmgr32=n"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
# The Linux process of a Windows program started under this prefix.
find_pid() {
    local pid
    for pid in $(pgrep -x "$1"); do
        grep -qz "^WINEPREFIX=$WINEPREFIX$" "/proc/$pid/environ" 2>/dev/null && { echo "$pid"; return; }
    done
}

# The baseline first, while no daemon window exists for the probe to find.
cp "$QX_DIST/tests/wine/daemon/power_probe.exe" "$app/"
timeout 60 wine 'C:\qx\power_probe.exe' suspend </dev/null >/dev/null 2>&1 &
sleep 5
base_pid=$(find_pid power_probe.exe)
base_rss=$( [ -n "$base_pid" ] && rss_kb "$base_pid" || echo 0)
wait
# The same program holding a hidden window of its own: what Wine's window
# machinery (GDI, fonts, themes) costs any program with one.
timeout 60 wine 'C:\qx\power_probe.exe' window </dev/null >/dev/null 2>&1 &
sleep 5
win_pid=$(find_pid power_probe.exe)
win_rss=$( [ -n "$win_pid" ] && rss_kb "$win_pid" || echo 0)
wait

timeout $((secs + 120)) wine 'C:\qx\quellix.exe' -a 3 -n 515 -o 134349066 -r 250 </dev/null \
    >"$QX_WORK/daemon.txt" 2>&1 &
sleep 15
pid=$(find_pid quellix.exe)
[ -n "$pid" ] || { echo "quellix.exe not found"; cat "$QX_WORK/daemon.txt"; exit 1; }
t0=$(ticks "$pid")
sleep "$secs"
t1=$(ticks "$pid")
rss=$(rss_kb "$pid")
hz=$(getconf CLK_TCK)


cpu_ms=$(( (t1 - t0) * 1000 / hz ))
echo "quellix.exe over ${secs} s: ${cpu_ms} ms of CPU ($(awk -v c="$cpu_ms" -v s="$secs" 'BEGIN {printf "%.2f", c / (s * 10)}')% of a core)"
echo "resident memory: quellix.exe ${rss} kB; a trivial program ${base_rss} kB (difference $((rss - base_rss)) kB);"
echo "  the trivial program with a hidden window ${win_rss} kB (difference $((rss - win_rss)) kB)"
grep -c 'QUELLIX' "$QX_WORK/daemon.txt" >/dev/null
