#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds with 2 jobs and runs the whole suite.
#   scripts/test.sh             default preset
#   scripts/test.sh sanitize    AddressSanitizer + UndefinedBehaviorSanitizer preset
#   scripts/test.sh all         both, one after the other
#   scripts/test.sh windows     cross-builds for Windows and runs it under Wine (after the others:
#                               it binds 127.0.0.1:9977 too)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = windows ]; then
    bash scripts/build-windows.sh
    exec bash scripts/windows/run-under-wine.sh
fi

bash scripts/install-deps.sh

presets=("${1:-default}")
[ "${presets[0]}" = all ] && presets=(default sanitize)

for preset in "${presets[@]}"; do
    echo "== $preset: configure, build, test"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
