# Shared by the Wine test scripts: a private copy of the template prefix per
# test, bounded Wine runs, output with CRLF normalised, and assertions.
#
# Environment (set by ctest): QX_WINE_TEMPLATE, QX_DIST (dist/windows),
# QX_SRC (source tree), QX_WORK (a scratch folder of this test).
set -uo pipefail

: "${QX_WINE_TEMPLATE:?}" "${QX_DIST:?}" "${QX_SRC:?}"
QX_WORK=${QX_WORK:-$(mktemp -d)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX="$QX_WORK/prefix"
QX_FAILURES=0

wine_cleanup() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

# Copies the template and starts this prefix's wineserver before any
# WINEDLLOVERRIDES is set, so Wine's own services never inherit an override.
# The wineserver stays up until wine_cleanup: without -p Wine ends the whole
# session (services.exe included) about 3 s after the last program, so a test
# with a pause would run its next command in a new session. Loaded CI
# machines have seen rare Wine commands that failed without a word; the
# session's end and restart are no longer among the suspects.
wine_setup() {
    [ -d "$QX_WINE_TEMPLATE" ] || { echo "no template prefix at $QX_WINE_TEMPLATE" >&2; exit 1; }
    rm -rf "$WINEPREFIX"
    cp -a "$QX_WINE_TEMPLATE" "$WINEPREFIX"
    trap wine_cleanup EXIT
    wineserver -p >/dev/null 2>&1 </dev/null
    timeout 60 wineboot >/dev/null 2>&1 </dev/null || true
    # Windows has PnPUtil in its system folder and the MSI's driver-package
    # action runs it; Wine has none, so every prefix gets our stand-in.
    if [ -f "$QX_DIST/doubles/pnputil.exe" ]; then
        cp "$QX_DIST/doubles/pnputil.exe" "$(wine_c)/windows/system32/pnputil.exe"
    fi
}

# The prefix's C: drive on the host.
wine_c() { echo "$WINEPREFIX/drive_c"; }

# wine_run SECONDS OUTFILE program [args...]: runs under Wine with a time-out;
# standard output goes to OUTFILE with CRLF turned into LF. Sets WINE_RC.
wine_run() {
    local secs=$1 out=$2
    shift 2
    timeout "$secs" wine "$@" </dev/null >"$out.raw" 2>"$out.err"
    WINE_RC=$?
    sed 's/\r$//' "$out.raw" >"$out"
    [ "$WINE_RC" -eq 124 ] && echo "timed out after ${secs}s: $*" >&2
    return 0
}

fail() {
    echo "FAIL: $*" >&2
    QX_FAILURES=$((QX_FAILURES + 1))
}

expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
    [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"
}

expect_file_eq() {  # expect_file_eq WHAT EXPECTED_FILE ACTUAL_FILE
    if ! cmp -s "$2" "$3"; then
        fail "$1 differs:"
        diff <(od -c "$2") <(od -c "$3") | head -20 >&2
    fi
}

expect_contains() {  # expect_contains WHAT FILE TEXT
    grep -qF -- "$3" "$2" || { fail "$1: [$3] not found in:"; head -40 "$2" >&2; }
}

expect_not_contains() {
    if grep -qF -- "$3" "$2"; then fail "$1: [$3] should not be in $2"; fi
}

finish() {
    if [ "$QX_FAILURES" -ne 0 ]; then
        echo "$QX_FAILURES check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# wine_restart_session LOG CHANNELS: a new session (kept alive as
# wine_setup's) whose services and kernel drivers write the given debug
# channels to LOG. winedevice writes a driver's failed load (err:ntoskrnl)
# and a driver's DbgPrint (warn:debugstr) there.
wine_restart_session() {
    timeout 30 wineserver -k >/dev/null 2>&1 </dev/null
    wineserver -p >/dev/null 2>&1 </dev/null
    WINEDEBUG="$2" timeout 60 wineboot >/dev/null 2>"$1" </dev/null || true
}

# reg_set KEY [NAME TYPE DATA]: the key, or one value under it, written
# through Wine's reg. Writing is idempotent, so a write that fails is tried
# once more: loaded machines have seen a rare Wine command end in failure
# without a word, and one stray failure must not pass for a wrong result.
# A second failure counts, with what reg printed.
reg_set() {
    local args=("$1") try
    [ $# -ge 4 ] && args+=(/v "$2" /t "$3" /d "$4")
    for try in 1 2; do
        timeout 60 wine reg add "${args[@]}" /f </dev/null >"$QX_WORK/reg.out" 2>&1 && return 0
        [ "$try" -eq 1 ] && sleep 1
    done
    fail "reg add $1 ${2:-}: $(tr -d '\r' <"$QX_WORK/reg.out" | head -3)"
    return 1
}

# reg_unset KEY [NAME]: the key, or one value under it, gone (absent is fine).
reg_unset() {
    if [ $# -ge 2 ]; then
        timeout 60 wine reg delete "$1" /v "$2" /f </dev/null >/dev/null 2>&1
    else
        timeout 60 wine reg delete "$1" /f </dev/null >/dev/null 2>&1
    fi
    return 0
}

# reg_dword KEY NAME: the DWORD value in decimal, empty when there is none.
reg_dword() {
    local hex
    hex=$(timeout 60 wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v n="$2" '$1 == n && $2 == "REG_DWORD" { print $3 }')
    [ -n "$hex" ] && echo $((hex))
}

# wait_for_line FILE TEXT SECONDS: true once FILE holds TEXT.
wait_for_line() {
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -aqF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
