#!/usr/bin/env bash
# QXuninstall.exe against a prefix with Halvorn Veltrane installed from its
# MSI: verbose with the helper service running, without the helper service,
# and silent. A second product with the same display name sits right after
# ours in the uninstall list, so skipping the entry after a removed one
# would show. A request for help changes nothing, and an msiexec.exe in the
# directory the uninstaller is run from is never started. The steps reuse one
# prefix.
source "$(dirname "$0")/../lib.sh"
wine_setup
out=$QX_WORK/out.txt
expected=$QX_WORK/expected.txt

product='{5B1D3723-D5AC-4B68-B491-A2562DE8663C}'
second='{5B1D3724-0000-4000-8000-0000000000A2}'
uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
session='HKLM\System\CurrentControlSet\Control\Session Manager'
halvorn="$(wine_c)/windows/Halvorn"
uninstaller='C:\windows\Halvorn\QXuninstall.exe'

# The second product's MSI, made here from its source.
mkdir -p "$QX_WORK/second"
cp "$QX_SRC/tests/wine/uninstall/second-product.wxs" "$QX_WORK/second/"
echo marker >"$QX_WORK/second/marker.txt"
(cd "$QX_WORK/second" && timeout 60 wixl -a x64 -o second.msi second-product.wxs) ||
    { echo "wixl could not build the second product" >&2; exit 1; }
cp "$QX_DIST/HalvornVeltrane.msi" "$QX_WORK/second/second.msi" "$(wine_c)/"

key_exists() { timeout 30 wine reg query "$1" </dev/null >/dev/null 2>&1; }
expect_key() { key_exists "$2" || fail "$1: $2 missing"; }
expect_no_key() { if key_exists "$2"; then fail "$1: $2 still there"; fi; }
expect_file() { [ -e "$2" ] || fail "$1: $2 missing"; }
expect_no_file() { if [ -e "$2" ]; then fail "$1: $2 still there"; fi; }
install_msi() {
    wine_run 120 "$out" msiexec /i "C:\\$1" /qn
    expect_eq "install of $1" 0 "$WINE_RC"
}
pending_renames() {
    timeout 30 wine reg query "$session" /v PendingFileRenameOperations </dev/null 2>/dev/null |
        tr -d '\r' | grep PendingFileRenameOperations
}
# The product's own key, with a small tree below it.
add_product_key() {
    wine_run 30 "$out" reg add "$uninstall_root\\Quellix\\Parts\\Driver" /v Kind /d inf /f
    wine_run 30 "$out" reg add "$uninstall_root\\Quellix" /v DisplayName /d Quellix /f
}
daemon_line='quellix.exe -a 3 -n 515 -o 134349066 -r 250'
daemons() {
    local pid n=0
    for pid in $(pgrep -f -- "$daemon_line"); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && n=$((n + 1))
    done
    echo "$n"
}

# --- verbose, everything installed, the helper service running ------------
install_msi HalvornVeltrane.msi
install_msi second.msi
add_product_key
# An entry whose display name differs only in case is not ours.
wine_run 30 "$out" reg add "$uninstall_root\\CaseProbe" /v DisplayName /d "halvorn veltrane" /f
# A daemon that runs until it is ended, so stopping the service matters.
cp "$QX_DIST/tests/service/quellix.exe" "$halvorn/Quellix.exe"
wine_run 30 "$out" sc start QXVeltraneHelper
for i in $(seq 1 50); do [ "$(daemons)" -ge 1 ] && break; sleep 0.2; done
expect_eq "helper daemon running" 1 "$(daemons)"

# Help: the usage line, and everything stays as it is.
for arg in '/?' -h --help; do
    wine_run 60 "$out" "$uninstaller" "$arg"
    expect_eq "exit code of $arg" 0 "$WINE_RC"
    expect_eq "output of $arg" \
        "Usage: QXuninstall.exe [v]  (removes Halvorn Veltrane: without an argument silently, with one reporting each step)" \
        "$(cat "$out")"
done
expect_eq "helper daemon running after help" 1 "$(daemons)"
expect_key "helper service after help" 'HKLM\System\CurrentControlSet\Services\QXVeltraneHelper'
expect_key "our entry after help" "$uninstall_root\\$product"
expect_key "product key after help" "$uninstall_root\\Quellix"
for f in Quellix.exe QXservice.exe QXuninstall.exe; do expect_file "kept after help" "$halvorn/$f"; done

# Run from a folder where someone left an msiexec.exe (our stand-in, which
# leaves quellix.log beside itself when it runs): Windows Installer comes from
# the system folder all the same.
plant="$(wine_c)/plant"
mkdir -p "$plant"
cp "$QX_DIST/tests/service/quellix.exe" "$plant/msiexec.exe"
touch "$plant/quellix.exit"
pushd "$plant" >/dev/null
wine_run 300 "$out" "$uninstaller" v
popd >/dev/null
[ -e "$plant/quellix.log" ] && fail "the msiexec.exe in the current directory was started"
expect_eq "exit code without controller devices" 0 "$WINE_RC"
printf '%s\n' "Service deleted successfully" \
    "Uninstalling Halvorn Veltrane / $product" \
    "Uninstalling Halvorn Veltrane / $second" >"$expected"
expect_file_eq "verbose output" "$expected" "$out"
expect_eq "daemons after the service was stopped" 0 "$(daemons)"
expect_no_key "helper service" 'HKLM\System\CurrentControlSet\Services\QXVeltraneHelper'
expect_no_key "product key" "$uninstall_root\\Quellix"
expect_no_key "our entry" "$uninstall_root\\$product"
expect_no_key "second entry" "$uninstall_root\\$second"
expect_key "entry differing in case" "$uninstall_root\\CaseProbe"
expect_no_file "second product" "$(wine_c)/Program Files/HalvornSecond/marker.txt"
for f in Quellix.exe QXservice.exe; do expect_no_file "deleted at once" "$halvorn/$f"; done
pending_renames >"$out"
expect_contains "inf deleted at restart" "$out" '\??\C:\windows\Halvorn\QXVeltrane.inf'
expect_contains "uninstaller deleted at restart" "$out" '\??\C:\windows\Halvorn\QXuninstall.exe'

# --- verbose, without the helper service ----------------------------------
wine_run 30 "$out" reg delete "$session" /v PendingFileRenameOperations /f
mkdir -p "$halvorn"
cp "$QX_DIST/QXuninstall.exe" "$QX_DIST/QXservice.exe" "$halvorn/"
cp "$QX_DIST/quellix.exe" "$halvorn/Quellix.exe"
install_msi second.msi
add_product_key

wine_run 300 "$out" "$uninstaller" v
expect_eq "exit code without the service" 0 "$WINE_RC"
printf '%s\n' "OpenService failed (1060)" \
    "Uninstalling Halvorn Veltrane / $second" >"$expected"
expect_file_eq "verbose output without the service" "$expected" "$out"
for f in Quellix.exe QXservice.exe QXuninstall.exe; do expect_file "files kept" "$halvorn/$f"; done
expect_eq "nothing scheduled for the restart" "" "$(pending_renames)"
expect_no_key "product key without the service" "$uninstall_root\\Quellix"
expect_no_key "second entry without the service" "$uninstall_root\\$second"

# --- silent ---------------------------------------------------------------
install_msi HalvornVeltrane.msi
install_msi second.msi
add_product_key
wine_run 300 "$out" "$uninstaller"
expect_eq "silent exit code" 0 "$WINE_RC"
expect_eq "silent output" "" "$(cat "$out")"
expect_no_key "silent: helper service" 'HKLM\System\CurrentControlSet\Services\QXVeltraneHelper'
expect_no_key "silent: product key" "$uninstall_root\\Quellix"
expect_no_key "silent: our entry" "$uninstall_root\\$product"
expect_no_key "silent: second entry" "$uninstall_root\\$second"
expect_no_file "silent: service host" "$halvorn/QXservice.exe"

finish
