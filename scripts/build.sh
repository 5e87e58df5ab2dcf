#!/usr/bin/env bash
# Installs what is missing, configures and builds the optimised tree in build/release, runs the example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
cmake --build build/release
if [ -x build/release/examples/read_example ]; then
    build/release/examples/read_example
fi
