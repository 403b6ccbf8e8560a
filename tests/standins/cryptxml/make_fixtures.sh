#!/bin/bash
# Makes the signed fixtures of cryptxml_standin_test with xmlsec1, an
# independent XML signature implementation:
#
#   make_fixtures.sh <folder>
#
# The folder is emptied and gets a fresh signer (signer.key, signer.crt), a
# second one (stranger/), the external payloads (payload.bin, other.bin) and,
# per fixture <name>:
#   <name>.xml  the signed document
#   <name>.si   the canonical SignedInfo xmlsec1 signed
#   <name>.ref  the canonical bytes xmlsec1 digested for the first reference
# "desc-*" are signed by tools/qrsign/qrsign.sh (one line, as published);
# "layout-*" are signed from data/layout.xml.in as they stand (line breaks,
# tabs, comments, namespaces), so canonicalization has real work to do.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
out="${1:?usage: make_fixtures.sh <folder>}"
qrsign="$root/tools/qrsign/qrsign.sh"

rm -rf "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

bash "$qrsign" --new-signer "$out"
# A second signer whose key must not verify the first one's signatures.
bash "$qrsign" --new-signer "$out/stranger"
printf 'payload of the signed description\n' >"$out/payload.bin"
printf 'payload of the signed descriptioN\n' >"$out/other.bin"

# Writes <name>.si and <name>.ref from xmlsec1's own verification dump.
golden() {
    local name="$1"
    xmlsec1 --verify --store-references --store-signatures --trusted-pem "$out/signer.crt" \
        "$out/$name.xml" >"$out/$name.dump" 2>&1 || { cat "$out/$name.dump" >&2; exit 1; }
    : >"$out/$name.ref"
    : >"$out/$name.si"
    LC_ALL=C awk -v ref="$out/$name.ref" -v si="$out/$name.si" '
        /^== PreDigest data - start buffer:$/ && !seen { mode = "ref"; seen = 1; next }
        /^== PreSigned data - start buffer:$/ { mode = "si"; next }
        /^== PreDigest data - end buffer/ || /^== PreSigned data - end buffer/ { mode = ""; next }
        mode == "ref" { printf "%s%s", (nref++ ? "\n" : ""), $0 >ref }
        mode == "si" { printf "%s%s", (nsi++ ? "\n" : ""), $0 >si }
    ' "$out/$name.dump"
    rm -f "$out/$name.dump"
}

desc() {
    local name="$1"
    shift
    bash "$qrsign" --key "$out/signer.key" --cert "$out/signer.crt" "$@" \
        "$here/data/description.xml" "$out/$name.xml"
    golden "$name"
}

desc desc-rsa-sha256-inclusive --reference "$out/payload.bin"
desc desc-rsa-sha1-inclusive --method rsa-sha1
desc desc-rsa-sha256-exclusive --c14n exclusive
desc desc-rsa-sha1-exclusive --method rsa-sha1 --c14n exclusive --reference "file://$out/payload.bin"

inclusive="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"
exclusive="http://www.w3.org/2001/10/xml-exc-c14n#"
rsa_sha256="http://www.w3.org/2001/04/xmldsig-more#rsa-sha256 http://www.w3.org/2001/04/xmlenc#sha256"
rsa_sha1="http://www.w3.org/2000/09/xmldsig#rsa-sha1 http://www.w3.org/2000/09/xmldsig#sha1"
prefixes='<ec:InclusiveNamespaces xmlns:ec="http://www.w3.org/2001/10/xml-exc-c14n#" PrefixList="unused #default"/>'

# layout <name> <c14n> <"signature digest"> [child of the c14n elements] [rewrite]
# With "rewrite", the signed file is written the other ways XML allows for
# the same content (CRLF line ends, hexadecimal references, single quotes,
# end tags for empty elements) before xmlsec1 verifies it again.
layout() {
    local name="$1" c14n="$2" methods="$3" child="${4:-}" rewrite="${5:-}"
    local signature="${methods% *}" digest="${methods#* }"
    # Placeholders are replaced with sed ('|' separates, '&' is literal).
    sed -e "s|@C14N@|$c14n|g" -e "s|@SIGNATURE@|$signature|g" -e "s|@DIGEST@|$digest|g" \
        -e "s|@C14N_CHILD@|${child//&/\\&}|g" "$here/data/layout.xml.in" >"$out/$name.in.xml"
    xmlsec1 --sign --privkey-pem "$out/signer.key,$out/signer.crt" --output "$out/$name.xml" \
        "$out/$name.in.xml" >"$out/$name.log" 2>&1 || { cat "$out/$name.log" >&2; exit 1; }
    if [ -n "$rewrite" ]; then
        sed -i -e 's/&#9;/\&#x9;/g' -e 's/&#10;/\&#xA;/g' -e 's/&#13;/\&#xd;/g' \
            -e 's|<empty/>|<empty  ></empty\t>|' -e 's|<inner attr="1" other:x="2"/>|<inner other:x="2" attr=\x271\x27></inner>|' \
            -e 's|note="single &quot;quoted&quot; &lt;tag&gt;"|note=\x27single "quoted" \&lt;tag>\x27|' \
            -e 's/$/\r/' "$out/$name.xml"
    fi
    rm -f "$out/$name.in.xml" "$out/$name.log"
    golden "$name"
}

layout layout-inclusive "$inclusive" "$rsa_sha256"
layout layout-inclusive-sha1 "$inclusive" "$rsa_sha1"
layout layout-exclusive "$exclusive" "$rsa_sha256"
layout layout-exclusive-prefixes "$exclusive" "$rsa_sha1" "$prefixes"
layout layout-inclusive-rewritten "$inclusive" "$rsa_sha256" "" rewrite
layout layout-exclusive-rewritten "$exclusive" "$rsa_sha256" "" rewrite
