#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds with 2 jobs and runs the whole suite.
#   scripts/test.sh             default preset
#   scripts/test.sh sanitize    AddressSanitizer + UndefinedBehaviorSanitizer preset
#   scripts/test.sh all         both, one after the other
#   scripts/test.sh fuzz        the libFuzzer targets (clang 14), each for ORVANE_FUZZ_SECONDS
#                               (60) from its committed seeds; fails on a crash or sanitizer report
#   scripts/test.sh windows     cross-builds for Windows and runs it under Wine, then builds the
#                               signed MSI and tries it there (after the others: it binds
#                               127.0.0.1:9977 too)
#   After the default preset it runs scripts/readme-examples.sh: the README's Linux commands.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    -h | --help)
        sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    "" | default | sanitize | all | fuzz | windows) ;;
    *)
        echo "test.sh: unknown argument $1 (default, sanitize, all, fuzz or windows)" >&2
        sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
        exit 2
        ;;
esac

if [ "${1:-}" = windows ]; then
    bash scripts/build-windows.sh
    # The Linux client, as a caller the Windows service must refuse.
    bash scripts/install-deps.sh
    cmake --preset default >/dev/null
    cmake --build --preset default --target orvane-client
    status=0
    bash scripts/windows/run-under-wine.sh || status=$?
    # The installer in a prefix of its own: install, start on demand, squatter, upgrade while
    # running, repair, refused downgrade, uninstall.
    bash scripts/windows/msi-under-wine.sh || status=$?
    exit "$status"
fi

if [ "${1:-}" = fuzz ]; then
    bash scripts/install-deps.sh clang-14 libclang-rt-14-dev
    cmake --preset fuzz
    cmake --build --preset fuzz
    seconds="${ORVANE_FUZZ_SECONDS:-60}"
    for target in packet-reader parse-functions; do
        echo "== fuzz: $target for $seconds s"
        corpus="$(mktemp -d)"
        # New inputs go to a scratch corpus; the seeds stay as committed. The outer timeout
        # bounds a run whose own limit does not end it.
        status=0
        timeout "$((seconds + 120))" "build/fuzz/fuzz/fuzz-$target" \
            -max_total_time="$seconds" -timeout=10 -max_len=12000 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="build/fuzz/$target-" \
            "$corpus" "fuzz/seeds/$target" || status=$?
        rm -rf "$corpus"
        [ "$status" -eq 0 ] || { echo "fuzz: $target failed ($status)"; exit "$status"; }
    done
    exit 0
fi

bash scripts/install-deps.sh

presets=("${1:-default}")
[ "${presets[0]}" = all ] && presets=(default sanitize)

for preset in "${presets[@]}"; do
    echo "== $preset: configure, build, test"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
    if [ "$preset" = default ]; then
        echo "== default: the README's examples"
        bash scripts/readme-examples.sh
    fi
done
