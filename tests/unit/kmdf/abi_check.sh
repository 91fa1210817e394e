#!/usr/bin/env bash
# abi_check.sh DATA [--subset] PROBE...: runs the probe command and compares
# its lines with the facts in DATA (comments and blank lines aside). Without
# --subset both must hold the same lines; with it, every line the probe
# prints must be in DATA.
set -uo pipefail
data=$1
shift
subset=0
if [ "${1:-}" = "--subset" ]; then
    subset=1
    shift
fi
expected=$(grep -v -e '^#' -e '^$' "$data" | sort)
actual=$("$@" 2>/dev/null | tr -d '\r' | sort)
[ -n "$actual" ] || { echo "FAIL: the probe printed nothing: $*" >&2; exit 1; }
if [ "$subset" -eq 1 ]; then
    missing=$(comm -13 <(echo "$expected") <(echo "$actual"))
else
    missing=$(diff <(echo "$expected") <(echo "$actual"))
fi
if [ -n "$missing" ]; then
    echo "FAIL: the probe's binary interface differs from $data ('<' expected, '>' printed):" >&2
    echo "$missing" >&2
    exit 1
fi
echo "all $(echo "$actual" | wc -l) facts agree"
