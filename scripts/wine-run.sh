#!/bin/bash
# Runs one Windows program under Wine with the test prefix set up by
# scripts/test.sh (ctest's crosscompiling emulator).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec "$QR_WINE" "$@"
