#!/bin/bash
# Signs an update description (version_info.xml) with the publisher's key and
# certificate, in the form the downloader verifies: every CR, LF and TAB is
# removed first (the downloader drops them before it checks the signature),
# an enveloped XML signature is appended as the last child of the root
# element, and the result is written as one line and verified once more.
#
#   qrsign.sh --key <private key PEM> --cert <certificate PEM>
#             [--method rsa-sha256|rsa-sha1] [--c14n inclusive|exclusive]
#             [--reference <URI>]... <in.xml> <out.xml>
#   qrsign.sh --new-signer <dir>     writes <dir>/signer.key and <dir>/signer.crt
#
# Needs xmlsec1 (with its OpenSSL back end), openssl and python3.
set -euo pipefail

usage() {
    sed -n '8,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
fail() {
    echo "qrsign: $*" >&2
    exit 1
}

key="" cert="" method="rsa-sha256" c14n="inclusive"
references=()
positional=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --key) key="${2:?--key needs a file}"; shift 2 ;;
        --cert) cert="${2:?--cert needs a file}"; shift 2 ;;
        --method) method="${2:?--method needs a value}"; shift 2 ;;
        --c14n) c14n="${2:?--c14n needs a value}"; shift 2 ;;
        --reference) references+=("${2?--reference needs a URI}"); shift 2 ;;
        --new-signer)
            dir="${2:?--new-signer needs a folder}"
            mkdir -p "$dir"
            openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/signer.key" -out "$dir/signer.crt" \
                -days 3650 -sha256 -subj "/CN=Quillrun Test Signer/O=Quillrun" 2>/dev/null ||
                fail "openssl could not make a signer key and certificate in '$dir'"
            exit 0 ;;
        -h|--help) usage ;;
        --*) fail "unknown option '$1'" ;;
        *) positional+=("$1"); shift ;;
    esac
done
[[ ${#positional[@]} -eq 2 ]] || usage
in="${positional[0]}" out="${positional[1]}"
[[ -n "$key" && -n "$cert" ]] || fail "--key and --cert are required"
for f in "$key" "$cert" "$in"; do [[ -r "$f" ]] || fail "cannot read '$f'"; done
command -v xmlsec1 >/dev/null || fail "xmlsec1 is not installed"

case "$method" in
    rsa-sha256) signature_method="http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"
                digest_method="http://www.w3.org/2001/04/xmlenc#sha256" ;;
    rsa-sha1)   signature_method="http://www.w3.org/2000/09/xmldsig#rsa-sha1"
                digest_method="http://www.w3.org/2000/09/xmldsig#sha1" ;;
    *) fail "unknown --method '$method' (rsa-sha256 or rsa-sha1)" ;;
esac
case "$c14n" in
    inclusive) c14n_method="http://www.w3.org/TR/2001/REC-xml-c14n-20010315" ;;
    exclusive) c14n_method="http://www.w3.org/2001/10/xml-exc-c14n#" ;;
    *) fail "unknown --c14n '$c14n' (inclusive or exclusive)" ;;
esac

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Strip the layout bytes and append the signature template in one pass.
python3 - "$in" "$work/template.xml" "$signature_method" "$digest_method" "$c14n_method" \
    "${references[@]+"${references[@]}"}" <<'PY' || exit 1
import re, sys
from xml.sax.saxutils import quoteattr

src, dst, sig_method, digest_method, c14n_method, *refs = sys.argv[1:]
data = open(src, "rb").read()
data = bytes(b for b in data if b not in (0x09, 0x0A, 0x0D))
if data.startswith(b"\xef\xbb\xbf"):
    data = data[3:]
if b"<Signature" in data:
    sys.exit("qrsign: '%s' already carries a signature" % src)
# The root element's end tag is the last end tag of the document.
end = re.search(rb"</\s*([^\s>]+)\s*>\s*$", data)
if not end:
    sys.exit("qrsign: '%s' has no root element with an end tag" % src)

def reference(uri, transforms):
    return ("<Reference URI=%s>%s<DigestMethod Algorithm=%s/><DigestValue/></Reference>"
            % (quoteattr(uri), transforms, quoteattr(digest_method)))

enveloped = ("<Transforms><Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
             "<Transform Algorithm=%s/></Transforms>" % quoteattr(c14n_method))
signature = ("<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
             "<CanonicalizationMethod Algorithm=%s/><SignatureMethod Algorithm=%s/>%s%s</SignedInfo>"
             "<SignatureValue/><KeyInfo><X509Data><X509Certificate/></X509Data></KeyInfo></Signature>"
             % (quoteattr(c14n_method), quoteattr(sig_method), reference("", enveloped),
                "".join(reference(uri, "") for uri in refs)))
open(dst, "wb").write(data[:end.start()] + signature.encode("utf-8") + data[end.start():])
PY

xmlsec1 --sign --privkey-pem "$key,$cert" --output "$work/signed.xml" "$work/template.xml" \
    >"$work/xmlsec.log" 2>&1 || { cat "$work/xmlsec.log" >&2; fail "xmlsec1 could not sign '$in'"; }

# xmlsec1 wraps the base64 values; those line breaks lie outside what is
# signed, and the downloader would drop them anyway.
tr -d '\r\n\t' <"$work/signed.xml" >"$work/out.xml"

xmlsec1 --verify --trusted-pem "$cert" "$work/out.xml" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "the signed description did not verify"; }

# Replace the output only once everything succeeded.
cp "$work/out.xml" "$out.qrsign-tmp" && mv -f "$out.qrsign-tmp" "$out"
