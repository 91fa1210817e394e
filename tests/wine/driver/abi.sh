#!/usr/bin/env bash
# The binary interface of our KMDF headers as the MinGW build compiles them,
# and the kernel structures as MinGW's own headers lay them out, against the
# measured facts.
. "$(dirname "$0")/../lib.sh"
wine_setup
check="$QX_SRC/tests/unit/kmdf/abi_check.sh"
data="$QX_SRC/tests/unit/kmdf/kmdf_abi.txt"
bash "$check" "$data" timeout 60 wine "$QX_DIST/tests/driver/kmdf_abi_probe.exe" ||
    fail "our headers, MinGW build"
bash "$check" "$data" --subset timeout 60 wine "$QX_DIST/tests/driver/ddk_layout_probe.exe" ||
    fail "MinGW's kernel headers"
finish
