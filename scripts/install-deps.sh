#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, only when one is missing. Arguments name
# further packages (for example the fuzz build's clang-14 libclang-rt-14-dev).
set -euo pipefail

packages=(cmake g++ make libpoco-dev libprotobuf-dev protobuf-compiler libgtest-dev libgmock-dev
          zlib1g-dev "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
