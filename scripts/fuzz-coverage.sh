#!/bin/sh
# Line coverage of src/ that the fuzz corpora reach: runs each coverage-built
# target once over its checked-in corpus and, when `make fuzz` left one, its
# working corpus, then prints llvm-cov's report.
#   scripts/fuzz-coverage.sh COVERAGE_TARGET_DIR [FUZZ_TARGET_DIR]
set -eu
coverage_dir=$1
fuzz_dir=${2:-}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
profiles=$coverage_dir/profiles
rm -rf "$profiles"
mkdir -p "$profiles"

objects=""
for target in fuzz_frames fuzz_stream fuzz_pcap_records fuzz_filter; do
    corpora=$source_dir/fuzz/corpus/$target
    working=${fuzz_dir:+$fuzz_dir/run/$target/corpus}
    if [ -n "$working" ] && [ -d "$working" ]; then corpora="$corpora $working"; fi
    # shellcheck disable=SC2086
    LLVM_PROFILE_FILE="$profiles/$target.profraw" "$coverage_dir/$target" -runs=0 $corpora \
        >"$profiles/$target.log" 2>&1
    # llvm-cov takes the first program bare, the others after -object.
    objects="${objects:+$objects -object }$coverage_dir/$target"
    echo "fuzz-coverage: $target: $(grep -Eo 'Done [0-9]+ runs' "$profiles/$target.log" | tail -n 1)"
done
llvm-profdata-14 merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"
# shellcheck disable=SC2086
llvm-cov-14 report $objects -instr-profile="$profiles/merged.profdata" "$source_dir/src"
