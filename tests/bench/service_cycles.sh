#!/usr/bin/env bash
# Start/stop cycles of QXservice.exe under Wine's service manager, with the
# real quellix.exe as its child steering against our doubles (the "\\.\QXSPB"
# kernel double, the Intel library, wlanapi, iphlpapi and cfgmgr32
# stand-ins). Each cycle starts the service, waits until the daemon's link
# reports reach the double, stops the service and times the stop. Reports
# orphaned daemons (a quellix.exe of this prefix still alive after the stop),
# the growth of the service process's descriptors (Wine gives a process a
# host descriptor for most of its kernel objects: the nearest thing to a
# handle count that can be read from outside) and of the wineserver's, and
# the longest stop. Not a ctest test: run by hand after make windows and a
# ctest run of the Wine tests (which leaves the template prefix in
# build/host/wine-template).
#   tests/bench/service_cycles.sh [cycles]      (default 100)
set -uo pipefail
cycles=${1:-100}
here=$(cd "$(dirname "$0")" && pwd)
export QX_SRC=$(cd "$here/../.." && pwd)
export QX_DIST=${QX_DIST:-$QX_SRC/dist/windows}
export QX_WINE_TEMPLATE=${QX_WINE_TEMPLATE:-$QX_SRC/build/host/wine-template}
source "$QX_SRC/tests/wine/lib.sh"
source "$QX_SRC/tests/wine/transport/double.sh"
export LANG=C.UTF-8
wine_setup
start_double
install_probe

dir="$(wine_c)/Program Files/Halvorn Test"
intel="$(wine_c)/Program Files/Intel/WiFi/bin"
mkdir -p "$dir" "$intel"
cp "$QX_DIST/QXservice.exe" "$QX_DIST/quellix.exe" "$QX_DIST/doubles/wlanapi.dll" \
    "$QX_DIST/doubles/iphlpapi.dll" "$QX_DIST/doubles/cfgmgr32.dll" "$dir/"
cp "$WINEPREFIX/drive_c/windows/system32/iphlpapi.dll" "$dir/iphlpreal.dll"
cp "$QX_DIST/doubles/murocapi.dll" "$intel/murocapi.dll"
reg_add() { timeout 60 wine reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg_add 'HKCU\Software\QuellixTest\CfgMgr32' /v Known /t REG_DWORD /d 1
reg_add 'HKCU\Software\QuellixTest\Murocapi' /v Flowing /t REG_DWORD /d 1
# The service manager starts the daemon, not this shell: its DLL overrides
# go to the registry, for quellix.exe alone.
reg_add 'HKCU\Software\Wine\AppDefaults\quellix.exe\DllOverrides' /v iphlpapi /t REG_SZ /d native
reg_add 'HKCU\Software\Wine\AppDefaults\quellix.exe\DllOverrides' /v cfgmgr32 /t REG_SZ /d native

exe='C:\Program Files\Halvorn Test\QXservice.exe'
svc='Halvorn Veltrane Service'
out=$QX_WORK/out.txt
log=$QX_WORK/probe.txt
wine_run 60 "$out" "$exe" install
grep -q "Service installed successfully" "$out" || { cat "$out"; echo "install failed"; exit 1; }

now_ms() { date +%s%3N; }
svc_field() {
    timeout 30 wine sc query "$svc" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v f="$1" '$1 == f {print $3}'
}
wait_state() {  # wait_state STATE_NUMBER SECONDS
    local end=$(($(now_ms) + $2 * 1000))
    while [ "$(now_ms)" -lt "$end" ]; do
        [ "$(svc_field STATE)" == "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
# Linux processes of a Windows program of this prefix.
pids_of() {
    local pid
    for pid in $(pgrep -x "$1"); do
        grep -qz "^WINEPREFIX=$WINEPREFIX$" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
    done
}
fds_of() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
link_reports() {
    wine_run 90 "$log" "$PROBE" log
    sed -n 's/.*link_reports=\([0-9]*\).*/\1/p' "$log" | head -1
}

orphans=0 not_steering=0 not_running=0 not_stopped=0 longest=0 longest_cycle=0 total_stop=0
first_fds="" last_fds="" max_fds=0 server_first="" server_last=""
reports=$(link_reports)
for cycle in $(seq 1 "$cycles"); do
    wine_run 30 "$out" sc start "$svc"
    if ! wait_state 4 30; then
        not_running=$((not_running + 1))
        echo "cycle $cycle: the service did not reach RUNNING" >&2
        continue
    fi
    # Steering: the double's count of link reports moves.
    steered=0
    for i in $(seq 1 30); do
        sleep 1
        now=$(link_reports)
        if [ "${now:-0}" -gt "${reports:-0}" ]; then
            steered=1
            reports=$now
            break
        fi
    done
    [ "$steered" == 1 ] || { not_steering=$((not_steering + 1)); echo "cycle $cycle: no link reports" >&2; }
    svc_pid=$(pids_of QXservice.exe | head -1)
    if [ -n "$svc_pid" ]; then
        fds=$(fds_of "$svc_pid")
        [ -z "$first_fds" ] && first_fds=$fds
        last_fds=$fds
        [ "$fds" -gt "$max_fds" ] && max_fds=$fds
    fi
    server_pid=$( (pids_of wineserver; pids_of wineserver64) | head -1)
    server_fds=$( [ -n "$server_pid" ] && fds_of "$server_pid" || echo "?")
    [ -z "$server_first" ] && server_first=$server_fds
    server_last=$server_fds

    t0=$(now_ms)
    wine_run 30 "$out" sc stop "$svc"
    if ! wait_state 1 30; then
        not_stopped=$((not_stopped + 1))
        echo "cycle $cycle: the service did not reach STOPPED" >&2
    fi
    took=$(($(now_ms) - t0))
    total_stop=$((total_stop + took))
    if [ "$took" -gt "$longest" ]; then longest=$took longest_cycle=$cycle; fi
    sleep 0.3
    left=$(pids_of quellix.exe | wc -l)
    if [ "$left" -gt 0 ]; then
        orphans=$((orphans + left))
        echo "cycle $cycle: $left daemon(s) left after the stop" >&2
        for pid in $(pids_of quellix.exe); do kill "$pid" 2>/dev/null; done
    fi
    [ $((cycle % 10)) == 0 ] && echo "cycle $cycle: stop ${took} ms, service fds ${last_fds:-?}, wineserver fds $server_fds" >&2
done

echo "service start/stop cycles under Wine: $cycles"
echo "  did not reach RUNNING:      $not_running"
echo "  daemon sent no link report: $not_steering"
echo "  did not reach STOPPED:      $not_stopped"
echo "  orphaned daemons:           $orphans"
echo "  service process descriptors while running: first ${first_fds:-?}, last ${last_fds:-?}, most $max_fds"
echo "  wineserver descriptors: first ${server_first:-?}, last ${server_last:-?}"
echo "  stop (sc stop until STOPPED): longest $longest ms (cycle $longest_cycle), mean $((total_stop / (cycles > 0 ? cycles : 1))) ms"
[ "$orphans" == 0 ] && [ "$not_running" == 0 ] && [ "$not_stopped" == 0 ] && [ "$not_steering" == 0 ]
