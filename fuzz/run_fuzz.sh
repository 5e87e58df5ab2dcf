#!/bin/sh
# run_fuzz.sh BINARY WORK_DIR SEED_DIR SECONDS: a short libFuzzer run; a crash, leak or timeout fails it.
set -eu
binary=$1 work=$2 seeds=$3 seconds=$4
mkdir -p "$work"
if [ -d "$seeds" ]; then
    exec "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
        -artifact_prefix="$work/" "$work" "$seeds"
fi
exec "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
    -artifact_prefix="$work/" "$work"
