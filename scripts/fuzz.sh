#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded number of
# executions from its checked-in seed corpus. New inputs go to a scratch folder,
# so the checked-in corpus only changes by hand. FUZZ_RUNS sets the bound.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${FUZZ_RUNS:-200000}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    mkdir -p "$scratch/$name"
    echo "fuzz_$name: $runs executions"
    status=0
    build/fuzz/fuzz/"fuzz_$name" -runs="$runs" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$scratch/" "$scratch/$name" "$corpus" >"$scratch/$name.log" 2>&1 ||
        status=$?
    grep -E "^(stat::number_of_executed_units|Done)" "$scratch/$name.log" || true
    if [[ $status -ne 0 ]]; then
        tail -n 40 "$scratch/$name.log"
        echo "fuzz_$name failed; the input that failed is printed above"
        exit 1
    fi
done
