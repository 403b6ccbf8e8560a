#!/bin/bash
# The publisher's workflow end to end: stamp the settings, build the
# description with qrdescribe (listing the downloader's digest), sign it with
# qrsign, stamp the key with qrstamp --key-from, serve it on loopback and run
# the downloader. It must accept the description, fetch and place every
# listed file, and stop only at the installation step, which this version
# does not have. A downloader changed after the description was built is
# refused before any file is fetched.
#
#   publish_e2e.sh <bin folder>
#
# The bin folder holds QuillrunDownloader.exe, qrstamp.exe, qrdescribe.exe,
# qrwatch.exe and the test-only cryptxml.dll. Runs with the Wine prefix of
# scripts/test.sh.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$here/../.."

source "$root/tests/fixtures/served-run.sh"
served_run_enter "$@"

wine_tool() {  # <tool.exe> [arguments...]: runs a tool from the bin folder, stops the test on failure
    "$QR_WINE" "$bin/$1" "${@:2}" || { echo "FAIL: $* (exit $?)"; exit 1; }
}

url="http://127.0.0.1:$QR_HTTP_PORT/files/pub/"
package="$work/serve/pub/1033/1.0.0"
mkdir -p "$package"
cp -r "$root/samples/deployment/1033/1.0.0/." "$package/"
printf 'the package the installation step would run\n' >"$package/PublishE2E.msi"
listed=(readme.txt bin/sample.dat settings.config.deploy updater/updater.config PublishE2E.msi)

exe="$bin/PublishE2E.exe" keyed="$bin/PublishE2EKeyed.exe" changed="$bin/PublishE2EChanged.exe"
trap 'rm -f "$exe" "$keyed" "$changed"' EXIT
rm -f "$exe" "$keyed" "$changed"

# 1. The deployment settings first: they are part of the program's digest.
wine_tool qrstamp.exe "$bin/QuillrunDownloader.exe" "$exe" \
    --settings "$(win "$root/samples/deployment/sample.ini")" "installationUrl=$url" \
    application=QrPublishE2E id=5e2e5e2e5e2e5e2e5e2e5e2e5e2e5e2e >/dev/null
# 2. The description of the package folder, with the digest of that program.
wine_tool qrdescribe.exe "$(win "$package")" "$(win "$work/unsigned.xml")" --language 1033 --version 1.0.0 \
    --msi PublishE2E.msi --downloader "$(win "$exe")" \
    --component "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}" --scope perMachine >/dev/null
# 3. Signed by the publisher.
bash "$root/tools/qrsign/qrsign.sh" --new-signer "$work/signer" || exit 1
bash "$root/tools/qrsign/qrsign.sh" --key "$work/signer/signer.key" --cert "$work/signer/signer.crt" \
    "$work/unsigned.xml" "$work/serve/pub/version_info.xml" || exit 1
# 4. The key of the signer certificate, stamped last: the digest skips it.
wine_tool qrstamp.exe "$exe" "$keyed" --key-from "$(win "$work/serve/pub/version_info.xml")" >/dev/null
key="$(certificate_key "$work/serve/pub/version_info.xml")"
"$QR_WINE" "$bin/qrstamp.exe" --print "$keyed" | tr -d '\r' | grep -qx "key=$key" ||
    fail "the stamped key is not the SHA-1 of the certificate text ($key)"

watch_run "$keyed" accepted
grep -qx "GET /files/pub/version_info.xml" "$work/accepted.requests" || fail "accepted: description not fetched"
for file in "${listed[@]}"; do
    grep -qx "GET /files/pub/1033/1.0.0/$file" "$work/accepted.requests" || fail "accepted: $file not fetched"
done
[ "$(grep -c . "$work/accepted.requests")" -eq $((${#listed[@]} + 1)) ] ||
    fail "accepted: requests other than the description and the listed files"
grep -qF "Installing the package is not available in this version of the downloader." "$work/accepted.seen" ||
    fail "accepted: the run did not reach the installation step"
# The only message box is the installation step's.
boxes="$(grep -c "message box" "$work/accepted.seen")"
[ "$boxes" -eq 1 ] || fail "accepted: $boxes message boxes, expected the installation step's only"

# A downloader whose settings changed after the description was built.
wine_tool qrstamp.exe "$keyed" "$changed" "productName=Changed After Signing" >/dev/null
watch_run "$changed" changed
grep -qF "The downloader program does not match 'version_info.xml' (its digest differs); download the setup program again." \
    "$work/changed.seen" || fail "changed: the integrity failure was not shown"
[ "$(cat "$work/changed.requests")" = "GET /files/pub/version_info.xml" ] ||
    fail "changed: requests beyond the description"

served_run_exit "the published deployment ran as expected"
