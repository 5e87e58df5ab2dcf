#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping those already present.
set -euo pipefail
packages=(cmake ninja-build g++ clang lld libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev zlib1g-dev libdeflate-dev libtiff-dev libexpat1-dev nlohmann-json3-dev locales)
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The legacy library's number text must not follow the process locale; its test needs a locale with a
# decimal comma to show that.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "de_DE.UTF-8 not generated; its test is skipped"
fi
