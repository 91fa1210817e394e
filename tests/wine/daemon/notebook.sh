# Sourced by the daemon scripts after lib.sh: a notebook for the real
# quellix.exe under Wine. The "\\.\QXSPB" double runs as a kernel service with
# its probe in C:\qx; our wlanapi, iphlpapi and cfgmgr32 stand-ins sit beside
# the daemon there (Wine's own iphlpapi as iphlpreal.dll behind ours), the
# Intel library stand-in at its fixed path with counters that flow, and the
# controller's device node is known to the Configuration Manager stand-in.
source "$(dirname "${BASH_SOURCE[0]}")/../transport/double.sh"

# cfgmgr_set NAME VALUE: a setting of the cfgmgr32 stand-in.
cfgmgr_set() {
    timeout 60 wine reg add 'HKCU\Software\QuellixTest\CfgMgr32' /v "$1" /t REG_DWORD /d "$2" /f \
        </dev/null >/dev/null 2>&1
}

# set_up_notebook [FILE...]: further files to put beside the daemon.
set_up_notebook() {
    start_double
    install_probe
    app="$(wine_c)/qx"
    intel="$(wine_c)/Program Files/Intel/WiFi/bin"
    mkdir -p "$intel"
    cp "$QX_DIST/quellix.exe" "$@" "$app/"
    cp "$QX_DIST/doubles/wlanapi.dll" "$QX_DIST/doubles/iphlpapi.dll" "$QX_DIST/doubles/cfgmgr32.dll" "$app/"
    cp "$WINEPREFIX/drive_c/windows/system32/iphlpapi.dll" "$app/iphlpreal.dll"
    cp "$QX_DIST/doubles/murocapi.dll" "$intel/murocapi.dll"
    cfgmgr_set Known 1
    timeout 60 wine reg add 'HKCU\Software\QuellixTest\Murocapi' /v Flowing /t REG_DWORD /d 1 /f \
        </dev/null >/dev/null 2>&1
}
