#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given seconds (default
# 60), starting from the committed seeds; new inputs stay in build/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in fuzz_parse_command fuzz_line_events; do
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus" build/fuzz/crashes
    echo "== $target for ${seconds}s"
    set +e
    build/fuzz/tests/fuzz/$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/ \
        "$corpus" tests/fuzz/corpus >"build/fuzz/$target.log" 2>&1
    status=$?
    set -e
    grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)" "build/fuzz/$target.log" || true
    if [ $status -ne 0 ]; then
        tail -n 60 "build/fuzz/$target.log"
        exit $status
    fi
done
