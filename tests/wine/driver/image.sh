#!/usr/bin/env bash
# The kernel image the Windows build makes: its headers and sections (our
# reader), and a signature that verifies against the build's own test
# certificate.
set -uo pipefail
: "${QX_DIST:?}" "${QX_SRC:?}"
image="$QX_DIST/driver/QXVeltrane.sys"
cer="$QX_DIST/driver/QXVeltrane-test.cer"
failed=0
python3 "$QX_SRC/tests/wine/driver/pe_check.py" "$image" 3.0.0.0 || failed=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl x509 -inform DER -in "$cer" -out "$work/test.pem" || failed=1
if osslsigncode verify -in "$image" -CAfile "$work/test.pem" >"$work/verify.txt" 2>&1 &&
    grep -q "Signature verification: ok" "$work/verify.txt"; then
    echo "ok   signed by the build's test certificate"
else
    echo "FAIL signature does not verify against $cer:" >&2
    cat "$work/verify.txt" >&2
    failed=1
fi
[ -f "$QX_DIST/driver/QXVeltrane.inf" ] || { echo "FAIL the INF is not beside the image" >&2; failed=1; }
exit $failed
