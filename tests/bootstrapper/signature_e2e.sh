#!/bin/bash
# The built downloader, stamped with a security key, against signed
# descriptions on the loopback server: a good one is accepted and its files
# are fetched; a tampered one and one signed by another certificate end the
# run right after the description, with no file requested.
#
#   signature_e2e.sh <bin folder>
#
# The bin folder holds QuillrunDownloader.exe, qrstamp.exe, qrwatch.exe and
# the test-only cryptxml.dll. Runs with the Wine prefix of scripts/test.sh.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$here/../.."

if [ "${1:-}" != --inside ]; then
    bin="${1:?usage: signature_e2e.sh <bin folder>}"
    [ -f "$bin/cryptxml.dll" ] || { echo "the test-only cryptxml.dll is not built in $bin"; exit 1; }
    work="$(mktemp -d "${TMPDIR:-/tmp}/qr-signature-e2e.XXXXXX")"
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/serve"
    # The server writes one line per request to its stderr; the runs below
    # read that log as it grows.
    QR_SERVER_LOG=1 QR_SERVE_DIR="$work/serve" \
        bash "$root/tests/fixtures/with-server.sh" bash "$0" --inside "$bin" "$work" 2>"$work/server.log"
    rc=$?
    [ $rc -eq 0 ] || { echo "--- server log and errors"; cat "$work/server.log"; }
    exit $rc
fi

bin="$2" work="$3"
source "$root/scripts/wine-env.sh"
sign="$root/tools/qrsign/qrsign.sh"
sample="$root/samples/deployment"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

bash "$sign" --new-signer "$work/signer" && bash "$sign" --new-signer "$work/other" || exit 1
deploy() {  # <name> <signer>: the sample deployment with its description signed
    mkdir -p "$work/serve/$1"
    cp -r "$sample/1033" "$work/serve/$1/"
    bash "$sign" --key "$work/$2/signer.key" --cert "$work/$2/signer.crt" \
        "$sample/version_info.xml" "$work/serve/$1/version_info.xml" || exit 1
}
deploy good signer
deploy other other
deploy tampered signer
sed -i 's/size="107"/size="108"/' "$work/serve/tampered/version_info.xml"
grep -q 'size="108"' "$work/serve/tampered/version_info.xml" || { echo "tampering failed"; exit 1; }
key="$(sed -n 's:.*<X509Certificate>\([^<]*\)</X509Certificate>.*:\1:p' "$work/serve/good/version_info.xml" |
    tr -d '\n' | sha1sum | cut -c1-40)"

exe="$bin/SignatureE2E.exe"
trap 'rm -f "$exe"' EXIT
# run <deployment>: stamps the downloader for it and runs it; prints what the
# user saw, and the server's requests during the run into $work/<name>.requests.
run() {
    rm -f "$exe"
    "$QR_WINE" "$bin/qrstamp.exe" "$bin/QuillrunDownloader.exe" "$exe" --settings "Z:${sample//\//\\}\\sample.ini" \
        "installationUrl=http://127.0.0.1:$QR_HTTP_PORT/files/$1/" --key "$key" >/dev/null || {
        fail "$1: stamping failed"
        return
    }
    local before
    before="$(wc -l <"$work/server.log")"
    "$QR_WINE" "$bin/qrwatch.exe" --timeout 90 "$exe" >"$work/$1.seen" 2>&1
    tail -n +"$((before + 1))" "$work/server.log" | grep -o 'GET /files/[^ ]*' >"$work/$1.requests"
    echo "== $1: what the run showed"
    cat "$work/$1.seen"
    echo "== $1: requests"
    cat "$work/$1.requests"
}

run good
grep -qx "GET /files/good/version_info.xml" "$work/good.requests" || fail "good: description not fetched"
for file in readme.txt bin/sample.dat settings.config.deploy updater/updater.config; do
    grep -qx "GET /files/good/1033/1.0.0/$file" "$work/good.requests" || fail "good: $file not fetched"
done
grep -q "signature\|security key" "$work/good.seen" && fail "good: a signature or key failure was shown"

check_refused() {  # <deployment> <text>
    run "$1"
    grep -qF "$2" "$work/$1.seen" || fail "$1: '$2' not shown"
    [ "$(cat "$work/$1.requests")" = "GET /files/$1/version_info.xml" ] ||
        fail "$1: requests beyond the description"
}
check_refused tampered "Failed to check the signature of version_info.xml (HRESULT = 0x80092109)."
check_refused other "Security error: The security key doesn't match the signature of 'version_info.xml'."

[ $failures -eq 0 ] && echo "all signature runs as expected"
exit $((failures != 0))
