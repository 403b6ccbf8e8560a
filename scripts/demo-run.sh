#!/bin/bash
# Second half of the demo, run by with-server.sh once the loopback server
# is up (QR_HTTP_PORT is its port).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
bin="$QR_DEMO_BIN"
url="http://127.0.0.1:$QR_HTTP_PORT/files/"

echo "== stamping SampleSetup.exe for $url"
rm -f "$bin/SampleSetup.exe"
"$QR_WINE" "$bin/qrstamp.exe" "$bin/QuillrunDownloader.exe" "$bin/SampleSetup.exe" \
    --settings "$(winepath -w "$qr_root/samples/deployment/sample.ini" 2>/dev/null || echo "Z:$qr_root/samples/deployment/sample.ini")" \
    "installationUrl=$url"

marker="$(mktemp)"
echo "== running SampleSetup.exe"
"$QR_WINE" "$bin/qrwatch.exe" --timeout 120 "$bin/SampleSetup.exe" || true

echo "== files the run left in the Wine prefix (the exit clean-up removes the cache folder)"
find "$WINEPREFIX/drive_c" -type f -newer "$marker" -ipath '*sampleproduct*' 2>/dev/null | sed "s|$WINEPREFIX/||" || true
rm -f "$marker"
