#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping those already present.
set -euo pipefail
packages=(cmake ninja-build g++ clang lld libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev zlib1g-dev libtiff-dev libexpat1-dev nlohmann-json3-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
