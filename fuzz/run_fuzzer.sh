#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEEDS WORKDIR SECONDS
# Fuzzes for SECONDS starting from a copy of the seed files; a crash, leak or
# timeout makes libFuzzer exit non-zero and fails the test. Crashing inputs are
# left in WORKDIR/artifacts.
set -eu
fuzzer=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp -r "$seeds"/. "$work/corpus/"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus"
