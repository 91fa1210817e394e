#!/usr/bin/env bash
# Where the programs take libraries from. Our stand-in of Intel's library,
# built as a library with a dependency of its own beside it (murohelp.dll),
# loads and serves through the provider functions; a murohelp.dll of another
# build in the current directory and in the program's folder is never the one
# used, and without the dependency beside the library the library does not
# load at all, wherever else one lies. Then Wine's relay trace of each program
# (quellix.exe, QXservice.exe, QXuninstall.exe) shows it restricting its
# run-time library search to the system folder before it loads anything.
source "$(dirname "$0")/../lib.sh"
wine_setup
app="$(wine_c)/qx"
intel_dir="$(wine_c)/Program Files/Intel/WiFi/bin"
plant="$(wine_c)/plant"
mkdir -p "$app" "$intel_dir" "$plant"
cp "$QX_DIST/tests/provider_probe.exe" "$app/"
cp "$QX_DIST/doubles/with-helper/murocapi.dll" "$QX_DIST/doubles/with-helper/murohelp.dll" "$intel_dir/"
probe='C:\qx\provider_probe.exe'
out=$QX_WORK/out.txt

# The probe's first record, run from the folder that gets the planted copies.
probe_from_plant() {
    pushd "$plant" >/dev/null
    wine_run 60 "$out" "$probe" init get
    popd >/dev/null
}

probe_from_plant
expect_eq "exit code with the library's own dependency" 0 "$WINE_RC"
expect_contains "the library loads" "$out" "init 1 3c:a9:f4:51:7e:20"
expect_contains "and serves, with its dependency's answer" "$out" " rssi -47 -58 -100 -100 avg 0 0 0 0"

cp "$QX_DIST/doubles/planted/murohelp.dll" "$plant/"
cp "$QX_DIST/doubles/planted/murohelp.dll" "$app/"
probe_from_plant
expect_contains "the dependency beside the library, not the planted ones" "$out" \
    " rssi -47 -58 -100 -100 avg 0 0 0 0"

rm "$intel_dir/murohelp.dll"
probe_from_plant
expect_eq "exit code without the dependency beside the library" 0 "$WINE_RC"
expect_file_eq "no library without its dependency" <(printf 'init 0 ee:ee:ee:ee:ee:ee\nnone\n') "$out"

# relay_check WHAT PROGRAM ARGS...: the first library call of the program is
# SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), and it succeeds.
relay_check() {
    local what=$1 trace=$QX_WORK/relay.txt first_load restrict
    shift
    WINEDEBUG=-all,+relay timeout 120 wine "$@" </dev/null >/dev/null 2>"$trace"
    restrict=$(grep -a -n -m1 'Call KERNEL32.SetDefaultDllDirectories(00000800)' "$trace" | cut -d: -f1)
    first_load=$(grep -a -n -m1 -E 'Call (KERNEL32|KERNELBASE)\.LoadLibrary' "$trace" | cut -d: -f1)
    if [ -z "$restrict" ]; then
        fail "$what: no SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) in its relay trace"
        return
    fi
    grep -aq 'Ret  KERNEL32.SetDefaultDllDirectories() retval=00000001' "$trace" ||
        fail "$what: SetDefaultDllDirectories failed"
    if [ -n "$first_load" ] && [ "$first_load" -lt "$restrict" ]; then
        fail "$what: a library was loaded before the search was restricted: $(sed -n "${first_load}p" "$trace")"
    fi
}
cp "$QX_DIST/quellix.exe" "$QX_DIST/QXservice.exe" "$QX_DIST/QXuninstall.exe" "$app/"
relay_check "quellix.exe" 'C:\qx\quellix.exe' -h
relay_check "QXservice.exe" 'C:\qx\QXservice.exe' install
relay_check "QXuninstall.exe" 'C:\qx\QXuninstall.exe' '/?'

finish
