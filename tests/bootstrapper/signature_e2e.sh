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

[ "${1:-}" = --inside ] || [ -f "${1:-}/cryptxml.dll" ] ||
    { echo "the test-only cryptxml.dll is not built in ${1:-}"; exit 1; }
source "$root/tests/fixtures/served-run.sh"
served_run_enter "$@"

sign="$root/tools/qrsign/qrsign.sh"
sample="$root/samples/deployment"

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
key="$(certificate_key "$work/serve/good/version_info.xml")"

exe="$bin/SignatureE2E.exe"
trap 'rm -f "$exe"' EXIT
# run <deployment>: stamps the downloader for it and runs it (watch_run).
run() {
    rm -f "$exe"
    "$QR_WINE" "$bin/qrstamp.exe" "$bin/QuillrunDownloader.exe" "$exe" --settings "$(win "$sample/sample.ini")" \
        "installationUrl=http://127.0.0.1:$QR_HTTP_PORT/files/$1/" --key "$key" >/dev/null || {
        fail "$1: stamping failed"
        return
    }
    watch_run "$exe" "$1"
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

served_run_exit "all signature runs as expected"
