# Sourced by the Wine tests of the real pair, after lib.sh: QXVeltrane.sys on
# our framework (the KMDF simulation as WDFLDR.SYS), with the SPB controller
# double under the resource hub's name, loaded as kernel services in one
# winedevice process (one service group: a transfer list carries the
# driver's kernel pointers). The driver package is installed as PnPUtil
# would leave it (the INF as %SystemRoot%\INF\oem0.inf, named by the device
# node's class key), so the framework's PnP manager applies that INF when it
# adds the device. The session's log (DUVAD prints, winedevice's errors) is
# $STACK_LOG; STACK_CHANNELS gives it other debug channels (e.g. with
# trace+loaddll, to read a crash address in winedevice).
source "$(dirname "${BASH_SOURCE[0]}")/../transport/double.sh"

STACK_LOG=$QX_WORK/session.log
FX_PROBE='C:\qx\fx_probe.exe'

# The device node ACPI\VLT0949\1 with the installed driver package.
install_package() {
    local enum='HKLM\System\CurrentControlSet\Enum\ACPI\VLT0949\1'
    local class='HKLM\System\CurrentControlSet\Control\Class\{4d36e97d-e325-11ce-bfc1-08002be10318}\0000'
    cp "$QX_DIST/driver/QXVeltrane.inf" "$(wine_c)/windows/inf/oem0.inf"
    reg_set "$enum" Driver REG_SZ '{4d36e97d-e325-11ce-bfc1-08002be10318}\0000'
    reg_set "$enum" Service REG_SZ QXVeltrane
    reg_set "$class" InfPath REG_SZ oem0.inf
    reg_set "$class" InfSection REG_SZ QXVeltrane_Device
}

# start_stack: the session, the package, both services, and the device started.
start_stack() {
    wine_restart_session "$STACK_LOG" ${STACK_CHANNELS:--all,err+ntoskrnl,warn+debugstr}
    local drivers
    drivers="$(wine_c)/windows/system32/drivers"
    cp "$QX_DIST/doubles/WDFLDR.SYS" "$drivers/WDFLDR.SYS"
    cp "$QX_DIST/doubles/spb_double.sys" "$QX_DIST/driver/QXVeltrane.sys" "$drivers/"
    install_package
    install_probe
    cp "$QX_DIST/tests/driver/fx_probe.exe" "$(wine_c)/qx/"
    local service image
    for service in spbdouble:spb_double.sys QXVeltrane:QXVeltrane.sys; do
        image=${service#*:}
        service=${service%%:*}
        timeout 60 wine sc create "$service" type= kernel start= demand group= QXSPB \
            binPath= "C:\\windows\\system32\\drivers\\$image" </dev/null >>"$QX_WORK/sc.out" 2>&1
        timeout 60 wine sc start "$service" </dev/null >>"$QX_WORK/sc.out" 2>&1
    done
    [ "$(grep -c RUNNING "$QX_WORK/sc.out")" -eq 2 ] ||
        { cat "$QX_WORK/sc.out" "$STACK_LOG" >&2; echo "the services did not start" >&2; exit 1; }
    wine_run 60 "$QX_WORK/started.txt" "$FX_PROBE" started 30
    [ "$WINE_RC" -eq 0 ] || { cat "$QX_WORK/started.txt" "$STACK_LOG" >&2; echo "the device did not start" >&2; exit 1; }
}

# fx_value KEY: KEY=value of the framework's state.
fx_value() {
    wine_run 60 "$QX_WORK/fx.txt" "$FX_PROBE" state
    sed -n "s/.* $1=\([0-9a-fx]*\).*/\1/p" "$QX_WORK/fx.txt"
}

# expect_no_violations: the framework saw the driver break none of its rules.
expect_no_violations() {
    wine_run 60 "$QX_WORK/violations.txt" "$FX_PROBE" violations
    expect_eq "contract violations" "violations 0" "$(head -1 "$QX_WORK/violations.txt")"
    grep '^violation:' "$QX_WORK/violations.txt" >&2
    expect_not_contains "the session log" "$STACK_LOG" "kmdfsim violation"
}

# prints TEXT: how many times the driver printed TEXT.
prints() { grep -acF -- "$1" "$STACK_LOG"; }
