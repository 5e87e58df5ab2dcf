#!/usr/bin/env bash
# Runs the whole suite twice: the optimised build (g++), then a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer, in which the fuzz targets also get a short run; then the legacy tests,
# whose strings and lists are shared between threads, once more under ThreadSanitizer. Any failure or
# sanitizer report fails the run. Build trees are reused between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

echo "== optimised build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
cmake --build build/release
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 300

echo "== sanitizer build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_FLAGS="-O1" -DZAN_SANITIZE=ON -DZAN_BUILD_BENCH=OFF -DZAN_BUILD_FUZZ=ON
cmake --build build/asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

echo "== thread sanitizer build of the legacy tests"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_FLAGS="-O1" -DZAN_SANITIZE_THREAD=ON -DZAN_BUILD_BENCH=OFF -DZAN_BUILD_EXAMPLES=OFF
cmake --build build/tsan --target test_legacy
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build/tsan -R '^legacy\.' --output-on-failure -j "$jobs" --timeout 600
echo "== all tests passed"
