#!/bin/sh
# Static analysis of every C++ file of the project: clang-tidy (.clang-tidy),
# cppcheck and the layout (.clang-format). Any finding fails the run.
#   scripts/lint.sh                 (make lint; needs scripts/install-deps.sh lint)
# Environment: LINT_BUILD_DIR (default build-lint), LINT_JOBS (default 2),
# LINT_CMAKE_ARGS (extra configure options, e.g. to configure fuzz/ or bench/).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${LINT_BUILD_DIR:-build-lint}
jobs=${LINT_JOBS:-2}

# The directories that hold the project's C++; new ones join by name.
source_dirs=""
for dir in src tools tests fuzz bench; do
    [ -d "$dir" ] && source_dirs="$source_dirs $dir"
done

first_of() {
    for candidate in "$@"; do
        if command -v "$candidate" >/dev/null 2>&1; then
            echo "$candidate"
            return 0
        fi
    done
    echo "lint: none of $* is installed (scripts/install-deps.sh lint)" >&2
    exit 2
}

# Per-file worker, run in parallel by xargs below: one file's diagnostics go
# to one report file, so parallel runs never interleave their lines.
if [ "${1:-}" = "--tidy-file" ]; then
    file=$2
    report=$3
    # A file the build does not compile in this configuration (a fuzz
    # target needs clang and its option) is analysed with the project's
    # include paths instead of being passed over.
    if grep -qF "\"file\": \"$root/$file\"" "$build_dir/compile_commands.json"; then
        set -- -p "$build_dir"
    else
        # shellcheck disable=SC2046
        set -- -- -std=c++20 -xc++ -Wall -Wextra -Wpedantic -I src -I tools -I tests -I "$(dirname "$file")" \
            $(pkg-config --cflags-only-I libpcap 2>/dev/null)
    fi
    if "$LINT_CLANG_TIDY" --quiet --use-color=false --header-filter="^$root/($LINT_DIRS_REGEX)/" \
        "$file" "$@" >"$report" 2>&1; then
        exit 0
    fi
    exit 1
fi

clang_tidy=$(first_of clang-tidy-14 clang-tidy)
clang_format=$(first_of clang-format-14 clang-format)
cppcheck=$(first_of cppcheck)

# shellcheck disable=SC2086
sources=$(find $source_dirs -name '*.cpp' -type f | LC_ALL=C sort)
# shellcheck disable=SC2086
all_files=$(find $source_dirs \( -name '*.cpp' -o -name '*.h' \) -type f | LC_ALL=C sort)
file_count=$(echo "$sources" | wc -l)
failed=""

# The compile database only: configuring is quick and nothing is built.
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON ${LINT_CMAKE_ARGS:-} >/dev/null

echo "lint: clang-tidy on $file_count files ($jobs at a time)"
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
LINT_CLANG_TIDY=$clang_tidy
# Unquoted: echo drops the leading space of the list.
# shellcheck disable=SC2086
LINT_DIRS_REGEX=$(echo $source_dirs | tr ' ' '|')
export LINT_CLANG_TIDY LINT_DIRS_REGEX
# Each file gets its own numbered report, named by its place in the list.
if ! echo "$sources" | awk -v dir="$reports" '{ printf "%s\n%s/%04d.txt\n", $0, dir, NR }' |
    xargs -d '\n' -n 2 -P "$jobs" scripts/lint.sh --tidy-file; then
    failed="$failed clang-tidy"
fi
# "N warnings generated." counts the suppressed ones in system headers too.
cat "$reports"/*.txt | grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' || true

echo "lint: cppcheck"
# shellcheck disable=SC2086
if ! "$cppcheck" --quiet --std=c++20 --language=c++ --library=googletest --library=posix \
    -I src -I tools -I tests \
    --enable=warning,style,performance,portability --inline-suppr \
    --suppressions-list=.cppcheck-suppressions --error-exitcode=1 \
    -j "$jobs" --template='{file}:{line}:{column}: {severity}: {message} [{id}]' $sources; then
    failed="$failed cppcheck"
fi

echo "lint: clang-format"
# shellcheck disable=SC2086
if ! "$clang_format" --dry-run -Werror $all_files; then
    failed="$failed clang-format"
fi

if [ -n "$failed" ]; then
    echo "lint: FAILED:$failed" >&2
    exit 1
fi
echo "lint: clean"
