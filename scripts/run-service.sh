#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds the service and its tools (2 jobs) and
# runs the emulated machine's service control manager with OrvaneService installed on the
# built-in machine profile: the first request of orvane-client starts the service, and the
# next one after it has stopped itself starts it again. Arguments go to `orvane-sc serve` (for
# example --profile FILE or --root DIR). Ctrl-C ends it, stopping a running service.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
    echo "usage: scripts/run-service.sh [orvane-sc serve options: --profile FILE --root DIR --exe PATH]"
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target OrvaneService orvane-sc orvane-client
exec build/default/tools/orvane-sc/orvane-sc serve "$@"
