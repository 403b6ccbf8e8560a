#!/bin/bash
# Signs the descriptions signature_test checks, with a key and certificate
# made for this run, then runs the test program. Runs under with-server.sh:
# the web reference is fetched from its loopback server while signing.
#
#   signature_fixtures.sh <test program> [arguments...]
#
# Needs QR_HTTP_PORT and QR_SERVE_DIR (from with-server.sh / ctest). Gives the
# program QR_SIGN_DIR, a folder holding:
#   plain.xml             the description, with line breaks and tabs
#   signed.xml            rsa-sha256, inclusive canonical XML
#   signed-sha1-exc.xml   rsa-sha1, exclusive canonical XML
#   signed-file.xml       plus references to payload.bin by path and by file:// URI
#   signed-missing.xml    plus a reference to a file removed after signing
#   signed-http.xml       plus a reference to payload.bin on the loopback server
#   signed-other.xml      signed with a second, unrelated certificate
#   payload.bin           the referenced file
#   signer.key-digits     SHA-1 of the certificate text in signed*.xml (sha1sum)
#   other.key-digits      the same for signed-other.xml
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
sign="$here/../../tools/qrsign/qrsign.sh"
: "${QR_HTTP_PORT:?run under tests/fixtures/with-server.sh}"
: "${QR_SERVE_DIR:?QR_SERVE_DIR must name the served folder}"

dir="$(mktemp -d "${TMPDIR:-/tmp}/qr-signature.XXXXXX")"
trap 'rm -rf "$dir"' EXIT

bash "$sign" --new-signer "$dir/signer"
bash "$sign" --new-signer "$dir/other"
printf 'payload bytes\r\nwith a line break and a\ttab\n' >"$dir/payload.bin"
cp "$dir/payload.bin" "$QR_SERVE_DIR/signature-payload.bin"
printf 'signed, then removed\n' >"$dir/gone.bin"

cat >"$dir/plain.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<application>
	<product language="en">
		<version name="1.0">
			<files msi="package.msi">
				<file size="12" hash="0123456789abcdef0123456789abcdef">package.msi</file>
				<file size="7" hash="fedcba9876543210fedcba9876543210">data/readme.txt</file>
			</files>
		</version>
	</product>
</application>
XML

with_signer() { bash "$sign" --key "$dir/$1/signer.key" --cert "$dir/$1/signer.crt" "${@:2}"; }
with_signer signer "$dir/plain.xml" "$dir/signed.xml"
with_signer signer --method rsa-sha1 --c14n exclusive "$dir/plain.xml" "$dir/signed-sha1-exc.xml"
with_signer signer --reference "$dir/payload.bin" --reference "file://$dir/payload.bin" \
    "$dir/plain.xml" "$dir/signed-file.xml"
with_signer signer --reference "$dir/gone.bin" "$dir/plain.xml" "$dir/signed-missing.xml"
rm "$dir/gone.bin"
with_signer signer --reference "http://127.0.0.1:$QR_HTTP_PORT/files/signature-payload.bin" \
    "$dir/plain.xml" "$dir/signed-http.xml"
with_signer other "$dir/plain.xml" "$dir/signed-other.xml"

# The key is the SHA-1 of the certificate text exactly as it stands in the file.
key_digits() {
    sed -n 's:.*<X509Certificate>\([^<]*\)</X509Certificate>.*:\1:p' "$1" | tr -d '\n' | sha1sum | cut -c1-40
}
key_digits "$dir/signed.xml" >"$dir/signer.key-digits"
key_digits "$dir/signed-other.xml" >"$dir/other.key-digits"

export QR_SIGN_DIR="$dir"
case "$1" in
    *.exe) "$here/../../scripts/wine-run.sh" "$@" ;;
    *) "$@" ;;
esac
