# Sourced by the daemon scripts after lib.sh: a notebook for the real
# quellix.exe under Wine. The "\\.\QXSPB" double runs as a kernel service with
# its probe in C:\qx; our wlanapi, iphlpapi and cfgmgr32 stand-ins sit beside
# the daemon there (Wine's own iphlpapi as iphlpreal.dll behind ours), the
# Intel library stand-in at its fixed path with counters that flow, and the
# controller's device node is known to the Configuration Manager stand-in.
source "$(dirname "${BASH_SOURCE[0]}")/../transport/double.sh"

# cfgmgr_set NAME VALUE: a setting of the cfgmgr32 stand-in.
cfgmgr_set() { reg_set 'HKCU\Software\QuellixTest\CfgMgr32' "$1" REG_DWORD "$2"; }

# set_up_notebook [FILE...]: further files to put beside the daemon.
set_up_notebook() {
    start_double
    install_notebook "$@"
}

# install_notebook [FILE...]: the notebook without the device behind
# "\\.\QXSPB" (the Wine tests of the real driver bring their own).
install_notebook() {
    install_probe
    app="$(wine_c)/qx"
    intel="$(wine_c)/Program Files/Intel/WiFi/bin"
    mkdir -p "$intel"
    cp "$QX_DIST/quellix.exe" "$@" "$app/"
    cp "$QX_DIST/doubles/wlanapi.dll" "$QX_DIST/doubles/iphlpapi.dll" "$QX_DIST/doubles/cfgmgr32.dll" "$app/"
    cp "$WINEPREFIX/drive_c/windows/system32/iphlpapi.dll" "$app/iphlpreal.dll"
    cp "$QX_DIST/doubles/murocapi.dll" "$intel/murocapi.dll"
    cfgmgr_set Known 1
    reg_set 'HKCU\Software\QuellixTest\Murocapi' Flowing REG_DWORD 1
}

# link_reports: how many link reports the controller has received.
link_reports() {
    probe "$log" log
    sed -n 's/.*link_reports=\([0-9]*\).*/\1/p' "$log" | head -1
}

# log_value KEY: KEY=value from the controller double's log (in $log).
log_value() {
    probe "$log" log
    sed -n "s/.* $1=\([0-9]*\).*/\1/p; s/^log $1=\([0-9]*\).*/\1/p" "$log" | head -1
}

# wait_for TEXT SECONDS: until the daemon has written TEXT.
wait_for() {
    local i
    for ((i = 0; i < $2 * 2; i++)); do
        tr -d '\r' <"$out" | grep -qF -- "$1" && return 0
        sleep 0.5
    done
    fail "the daemon did not write [$1] within $2 s"
    tr -d '\r' <"$out" >&2
    return 1
}

# report_flags N: the flags byte (offset 7 of the unescaped type-7 record) of
# the Nth link report in the log probe "$log" log fetched.
report_flags() {
    local line bytes=() b
    line=$(grep '^log write 0C 07' "$log" | sed -n "${1}p")
    # shellcheck disable=SC2086
    set -- $line
    shift 2
    while [ $# -gt 0 ]; do
        b=$1
        shift
        if [ "$b" = 81 ] && [ $# -gt 0 ]; then
            b=$(printf '%02X' $((0x$1 ^ 0x20)))
            shift
        fi
        bytes+=("$b")
    done
    echo "${bytes[7]:-none}"
}
