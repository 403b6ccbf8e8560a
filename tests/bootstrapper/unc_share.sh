#!/bin/bash
# Makes (or removes) the network share the copy tests read from: Wine maps
# \\<server>\<share>\... to $WINEPREFIX/dosdevices/unc/<server>/<share>, so a
# symlink there stands in for a server.
#   unc_share.sh setup|cleanup <server> <share folder>
set -euo pipefail
action="$1" server="$2" folder="$3"
: "${WINEPREFIX:?run through scripts/test.sh, which sets WINEPREFIX}"
unc="$WINEPREFIX/dosdevices/unc/$server"
case "$action" in
setup)
    rm -rf "$folder"
    mkdir -p "$folder" "$unc"
    ln -sfn "$folder" "$unc/share"
    ;;
cleanup)
    rm -f "$unc/share"
    rmdir "$unc" 2>/dev/null || true
    rm -rf "$folder"
    ;;
esac
