#!/bin/bash
# Builds the XML core natively with sanitizers and runs its tests.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
build="${QR_XML_NATIVE_DIR:-$root/build/xml-native}"
cmake -S "$root/tests/xml/native" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "${QR_JOBS:-2}"
"$build/xml_native_test" "$@"
