#!/usr/bin/env bash
# The second name of the service host: "QXservice.exe install" creates
# "Halvorn Veltrane Service" beside (or instead of) the MSI's
# "QXVeltraneHelper". The uninstaller stops it (with a bounded wait) and
# deletes it when it exists, running or not, and says nothing of it when it
# does not (uninstall.sh checks that output). The MSI's service shows the same
# display name, so Windows (and Wine) refuse the second service while the MSI's
# is installed (1078): the two never coexist. The steps reuse one prefix.
source "$(dirname "$0")/../lib.sh"
wine_setup
out=$QX_WORK/out.txt
expected=$QX_WORK/expected.txt
services='HKLM\System\CurrentControlSet\Services'
halvorn="$(wine_c)/windows/Halvorn"
uninstaller='C:\windows\Halvorn\QXuninstall.exe'
svc='Halvorn Veltrane Service'

key_exists() { timeout 30 wine reg query "$1" </dev/null >/dev/null 2>&1; }
expect_no_key() { if key_exists "$2"; then fail "$1: $2 still there"; fi; }
daemon_line='quellix.exe -a 3 -n 515 -o 134349066 -r 250'
daemons() {
    local pid n=0
    for pid in $(pgrep -f -- "$daemon_line"); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && n=$((n + 1))
    done
    echo "$n"
}
wait_daemons() {  # wait_daemons N: up to 10 s
    local i
    for i in $(seq 1 50); do [ "$(daemons)" -ge "$1" ] && return 0; sleep 0.2; done
    return 1
}
# The self-installed service, from the installed service host, running a
# daemon that runs until it is ended.
self_install() {
    cp "$QX_DIST/tests/service/quellix.exe" "$halvorn/Quellix.exe"
    wine_run 60 "$out" 'C:\windows\Halvorn\QXservice.exe' install
    expect_eq "install output" "Service installed successfully" "$(cat "$out")"
}

# --- only the self-installed service, running, verbose ----------------------
mkdir -p "$halvorn"
cp "$QX_DIST/QXservice.exe" "$QX_DIST/QXuninstall.exe" "$halvorn/"
self_install
wine_run 30 "$out" sc start "$svc"
wait_daemons 1 || fail "the self-installed service's daemon should run"
wine_run 300 "$out" "$uninstaller" v
expect_eq "exit code, self-installed only" 0 "$WINE_RC"
printf '%s\n' "Service \"$svc\" deleted" "OpenService failed (1060)" >"$expected"
expect_file_eq "verbose output, self-installed only" "$expected" "$out"
expect_eq "daemons, self-installed only" 0 "$(daemons)"
expect_no_key "self-installed service, alone" "$services\\$svc"
# The helper service was not there, so the files stay, as without it.
for f in Quellix.exe QXservice.exe; do [ -e "$halvorn/$f" ] || fail "$f should be kept"; done

# --- the self-installed service, stopped, silent ---------------------------
self_install
wine_run 300 "$out" "$uninstaller"
expect_eq "silent exit code" 0 "$WINE_RC"
expect_eq "silent output" "" "$(cat "$out")"
expect_no_key "silent: self-installed service" "$services\\$svc"
finish
