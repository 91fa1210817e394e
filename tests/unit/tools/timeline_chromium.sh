#!/usr/bin/env bash
# qxsim --html in a real browser: Chromium (headless) loads the page of a
# scenario, the DOM it built holds one report mark per link report the
# controller received, and its screenshot is not blank.
#   timeline_chromium.sh QXSIM SCREENSHOT [qxsim options...]
# The screenshot stays where SCREENSHOT says, for people to look at.
set -uo pipefail
qxsim=$1 shot=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
command -v chromium >/dev/null || { echo "FAIL: chromium is not installed (make deps-test)"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$(dirname "$shot")"

timeout 120 "$qxsim" --html "$dir/page.html" --frames none "$@" \
    -- -a 3 -n 515 -o 134349066 -r 250 -v 3 >"$dir/qxsim.txt" 2>&1 ||
    { echo "FAIL: qxsim failed"; tail -20 "$dir/qxsim.txt"; exit 1; }
summary=$(grep '^  link reports received by the controller: ' "$dir/qxsim.txt")
reports=$(sed 's/.*controller: \([0-9]*\) (\([0-9]*\) with.*/\1/' <<<"$summary")
new_bssid=$(sed 's/.*controller: \([0-9]*\) (\([0-9]*\) with.*/\2/' <<<"$summary")
setups=$(sed -n 's/^  controller set-ups: //p' "$dir/qxsim.txt")
[ "${reports:-0}" -gt 0 ] || { echo "FAIL: no link reports in the session"; exit 1; }

# Nothing on the page may come from elsewhere.
if grep -qiE '<script|<link|@import|url\(| src=| href=' "$dir/page.html"; then
    echo "FAIL: the page refers to something outside itself"
    exit 1
fi

browse() {
    local profile
    profile=$(mktemp -d "$dir/profile.XXXX")
    timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --hide-scrollbars "$@" "file://$dir/page.html" 2>>"$dir/chromium.err"
}
browse --dump-dom >"$dir/dom.html" || { echo "FAIL: chromium --dump-dom failed"; tail "$dir/chromium.err"; exit 1; }
browse --window-size=1280,860 --screenshot="$shot" >/dev/null ||
    { echo "FAIL: chromium --screenshot failed"; tail "$dir/chromium.err"; exit 1; }

failures=0
expect() {  # what, expected, got
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected $2, the browser's DOM holds $3"
        failures=$((failures + 1))
    fi
}
# One stroke (an M) per link report in the report path; one mark per new BSSID
# and per controller set-up.
marks=$(grep -o '<path class="reports"[^>]*' "$dir/dom.html" | sed 's/.* d="\([^"]*\)".*/\1/' | tr -cd 'M' | wc -c)
expect "report marks" "$reports" "$marks"
count() { grep -o "<g class=\"$1\" data-count=\"[0-9]*\">" "$dir/dom.html" | grep -o '[0-9]*'; }
expect "new-BSSID marks" "$new_bssid" "$(count newbssid)"
expect "set-up marks" "$setups" "$(count setups)"
grep -q '<svg' "$dir/dom.html" || { echo "FAIL: no SVG in the DOM"; failures=$((failures + 1)); }
python3 "$here/png_check.py" "$shot" 1000 700 || failures=$((failures + 1))
[ "$failures" -eq 0 ] || exit 1
echo "ok: $reports report marks, $new_bssid new-BSSID marks, $setups set-ups; screenshot $shot"
