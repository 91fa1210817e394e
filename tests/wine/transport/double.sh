# Sourced by the transport scripts after lib.sh: loads our "\\.\QXSPB" double
# as a kernel service and installs the probe program.

# The wineserver must outlive each command: the double's service ends with it.
start_double() {
    timeout 30 wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -p >/dev/null 2>&1 </dev/null
    cp "$QX_DIST/doubles/qxspb_double.sys" "$(wine_c)/windows/system32/drivers/"
    timeout 60 wine sc create qxspbdouble type= kernel start= demand \
        binPath= 'C:\windows\system32\drivers\qxspb_double.sys' </dev/null >"$QX_WORK/sc.out" 2>&1
    timeout 60 wine sc start qxspbdouble </dev/null >>"$QX_WORK/sc.out" 2>&1
    grep -q RUNNING "$QX_WORK/sc.out" || { cat "$QX_WORK/sc.out" >&2; echo "the double did not start" >&2; exit 1; }
}

install_probe() {
    mkdir -p "$(wine_c)/qx"
    cp "$QX_DIST/tests/transport_probe.exe" "$(wine_c)/qx/"
    PROBE='C:\qx\transport_probe.exe'
}

# probe OUTFILE steps...: one run of the probe, bounded.
probe() {
    local out=$1
    shift
    wine_run 90 "$out" "$PROBE" "$@"
    expect_eq "exit code of probe $*" 0 "$WINE_RC"
}

# line_of FILE N: the Nth line of the probe's output.
line_of() { sed -n "$2p" "$1"; }

# field FILE N KEY: value of KEY=value on line N.
field() { line_of "$1" "$2" | tr ' ' '\n' | sed -n "s/^$3=//p"; }

# expect_at_least WHAT MIN ACTUAL
expect_at_least() {
    if ! [[ "$3" =~ ^[0-9]+$ ]] || [ "$3" -lt "$2" ]; then fail "$1: expected at least $2, got [$3]"; fi
}

# expect_below WHAT MAX ACTUAL
expect_below() {
    if ! [[ "$3" =~ ^[0-9]+$ ]] || [ "$3" -ge "$2" ]; then fail "$1: expected below $2, got [$3]"; fi
}
