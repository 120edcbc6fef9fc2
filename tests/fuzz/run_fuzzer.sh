#!/bin/sh
# Runs one fuzz target for a bounded time from the seed corpus; any finding
# (crash, sanitizer report, leak, timeout) fails the run.
# usage: run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS
set -eu
fuzzer=$1 seeds=$2 work=$3 seconds=$4
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
