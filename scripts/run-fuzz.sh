#!/bin/sh
# Runs every fuzz target: first once over its checked-in corpus (any
# regression fails at once), then for SECONDS on a fresh working copy of
# that corpus, so the checked-in one never grows.
#   scripts/run-fuzz.sh TARGET_DIR [SECONDS]
# Prints libFuzzer's final figures; a crash, leak, timeout or out-of-memory
# fails the run and names the input that caused it.
set -eu
target_dir=$1
seconds=${2:-60}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work_dir=$target_dir/run
# Inputs up to a few frames or messages longer than the 4096-byte buffer.
max_len=12000
# A single input taking seconds is a hang, not slowness.
timeout=10

failed=0
report_failure() {
    echo "fuzz: $1 failed; its output is in $2" >&2
    tail -n 40 "$2" | cut -c1-300 >&2
    for artifact in "$3"/*; do
        [ -e "$artifact" ] && echo "fuzz: reproduce with $target_dir/$1 $artifact" >&2
    done
    failed=1
}

for target in fuzz_frames fuzz_stream fuzz_pcap_records fuzz_filter; do
    corpus=$source_dir/fuzz/corpus/$target
    dictionary=$source_dir/fuzz/$target.dict
    working=$work_dir/$target/corpus
    artifacts=$work_dir/$target/artifacts
    log=$work_dir/$target/fuzz.log
    rm -rf "$work_dir/$target"
    mkdir -p "$working" "$artifacts"
    cp "$corpus"/* "$working"/

    echo "fuzz: $target over the checked-in corpus ($(ls "$corpus" | wc -l) inputs)"
    if ! "$target_dir/$target" -runs=0 -timeout=$timeout -artifact_prefix="$artifacts/" "$corpus" \
            >"$log" 2>&1; then
        report_failure "$target" "$log" "$artifacts"
        continue
    fi

    echo "fuzz: $target for $seconds s"
    if "$target_dir/$target" -max_total_time="$seconds" -print_final_stats=1 -dict="$dictionary" \
            -max_len=$max_len -timeout=$timeout -rss_limit_mb=2048 -artifact_prefix="$artifacts/" \
            "$working" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1
        grep '^stat::' "$log"
    else
        report_failure "$target" "$log" "$artifacts"
    fi
done
exit $failed
