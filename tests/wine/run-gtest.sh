#!/usr/bin/env bash
# Runs one cross-built GoogleTest executable under Wine in a private prefix;
# QX_GTEST_DOUBLE=qxspb first starts our "\\.\QXSPB" double as a kernel service;
# QX_GTEST_DOUBLE=cfgmgr32 or wlanapi puts our stand-in of that DLL beside the test instead of
# Wine's; QX_GTEST_DOUBLE=powrprof puts our powrprof.dll stand-in into the prefix's system
# folder, the one place the daemon loads it from; QX_GTEST_DOUBLE=murocapi leaves our stand-in
# of Intel's library, with its dependency, in C:\qx\murocapi for the test to install;
# QX_GTEST_DOUBLE=service puts our service host and the stand-in daemon in C:\QuellixService,
# for a test that installs them as a service of its own.
source "$(dirname "$0")/lib.sh"
exe=$1
shift
[ -f "$exe" ] || { echo "missing $exe: run make windows first" >&2; exit 1; }
wine_setup
if [ "${QX_GTEST_DOUBLE:-}" = qxspb ]; then
    source "$(dirname "$0")/transport/double.sh"
    start_double
elif [ "${QX_GTEST_DOUBLE:-}" = cfgmgr32 ] || [ "${QX_GTEST_DOUBLE:-}" = wlanapi ]; then
    # A private copy of the test, so that no other test finds the stand-in.
    mkdir -p "$QX_WORK/bin"
    cp "$exe" "$QX_DIST/doubles/$QX_GTEST_DOUBLE.dll" "$QX_WORK/bin/"
    exe=$QX_WORK/bin/$(basename "$exe")
    export WINEDLLOVERRIDES=$QX_GTEST_DOUBLE=n
elif [ "${QX_GTEST_DOUBLE:-}" = powrprof ]; then
    cp "$QX_DIST/doubles/powrprof.dll" "$(wine_c)/windows/system32/powrprof.dll"
    export WINEDLLOVERRIDES=powrprof=n
elif [ "${QX_GTEST_DOUBLE:-}" = murocapi ]; then
    mkdir -p "$(wine_c)/qx/murocapi"
    cp "$QX_DIST/doubles/with-helper/murocapi.dll" "$QX_DIST/doubles/with-helper/murohelp.dll" \
        "$(wine_c)/qx/murocapi/"
elif [ "${QX_GTEST_DOUBLE:-}" = service ]; then
    mkdir -p "$(wine_c)/QuellixService"
    cp "$QX_DIST/QXservice.exe" "$QX_DIST/tests/service/quellix.exe" "$(wine_c)/QuellixService/"
fi
wine_run "${QX_GTEST_TIMEOUT:-300}" "$QX_WORK/gtest.out" "$exe" "$@"
cat "$QX_WORK/gtest.out"
cat "$QX_WORK/gtest.out.err" >&2
exit "$WINE_RC"
