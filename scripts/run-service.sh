#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds the service and its tools (2 jobs) and
# runs OrvaneService under the emulated service control manager on the built-in machine
# profile. Arguments go to `orvane-sc run` (for example --profile FILE or --root DIR).
# Ctrl-C stops the service.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target OrvaneService orvane-sc orvane-client
exec build/default/tools/orvane-sc/orvane-sc run "$@"
