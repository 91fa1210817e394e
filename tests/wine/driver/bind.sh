#!/usr/bin/env bash
# QXVeltrane.sys loads under Wine as a kernel service beside a stand-in
# WDFLDR.SYS of ours that checks the bind (record, table variable), the
# driver's first call through the table (WdfDriverCreate and its arguments)
# and the unbind after the failed entry the stand-in asks for. The load ends
# with the status the stand-in chose: 0xe0b10000 when every check held.
. "$(dirname "$0")/../lib.sh"
wine_setup
session="$QX_WORK/session.log"
wine_restart_session "$session" -all,err+ntoskrnl,warn+debugstr

drivers="$(wine_c)/windows/system32/drivers"
cp "$QX_DIST/doubles/wdfldr_bind.sys" "$drivers/WDFLDR.SYS"
cp "$QX_DIST/driver/QXVeltrane.sys" "$drivers/QXVeltrane.sys"
key='HKLM\Software\Quellix\KmdfBind'
reg_set "$key"

timeout 60 wine sc create QXVeltrane type= kernel start= demand \
    binPath= 'C:\windows\system32\drivers\QXVeltrane.sys' </dev/null >"$QX_WORK/sc.out" 2>&1
timeout 60 wine sc start QXVeltrane </dev/null >>"$QX_WORK/sc.out" 2>&1
expect_eq "sc start of a driver whose framework refuses it" 1 "$?"

wait_for_line "$session" 'ZwLoadDriver failed' 20 || fail "no report of the load in the session log"
expect_contains "the load's status" "$session" 'Services\\QXVeltrane": e0b10000'
expect_contains "the driver's start banner" "$session" '!!!!!!!!!!!!!!!!!!DUVAD - STARTING!!!!!!!!!!!!!!!!!!!!!'

# What the stand-in saw, check by check (0: every check held).
while read -r name want what; do
    expect_eq "$what" "$want" "$(reg_dword "$key" "$name")"
done <<'TABLE'
Binds 1 one bind
Bind 0 the bind record: size 48, KmdfLibrary, 1.15, 444 entries, an empty table variable
FirstCall 116 the first call through the table is WdfDriverCreate
DriverCreate 0 WdfDriverCreate: the bound globals, driver object and path, the attributes and the config
Calls 1 one table call before the unbind
Unbind 1 the failed entry unbinds with the bind's record, globals and path
TABLE
expect_eq "no call of another table entry" "" "$(reg_dword "$key" Unexpected)"
finish
