#!/bin/sh
# Installs the Debian packages that a task needs, by group:
#   scripts/install-deps.sh [GROUP...]     (default: build)
# Does nothing when they are all present.
set -eu

# One variable per group; a package may be in several.
build_packages="build-essential make cmake pkg-config libpcap-dev libcap-dev libre2-dev"
# make package: dpkg-shlibdeps (dpkg-dev) and file find the libraries the
# programs need.
package_packages="$build_packages dpkg-dev file"
# The tests also build the package, render the manual pages, run a
# capture given file capabilities (setcap) and check vestrel-trace --json
# against its JSON Schema (python3-jsonschema).
test_packages="$package_packages libgtest-dev tcpdump man-db groff-base libcap2-bin python3 python3-jsonschema"
# make bench: Google Benchmark, tcpdump to compare with, GNU time for peak
# memory, ip to bring lo up in the benchmark's network namespace.
bench_packages="$build_packages libbenchmark-dev tcpdump time iproute2 util-linux"
# libFuzzer and the clang sanitizer runtimes come with libclang-rt.
fuzz_packages="$test_packages clang-14 libclang-rt-14-dev llvm-14"
# The tests are analysed too, so the lint needs GoogleTest's headers, and
# the benchmarks Google Benchmark's.
lint_packages="$build_packages libgtest-dev libbenchmark-dev clang-tidy cppcheck clang-format"

packages=""
for group in "${@:-build}"; do
    case "$group" in
        build) packages="$packages $build_packages" ;;
        package) packages="$packages $package_packages" ;;
        test) packages="$packages $test_packages" ;;
        bench) packages="$packages $bench_packages" ;;
        fuzz) packages="$packages $fuzz_packages" ;;
        lint) packages="$packages $lint_packages" ;;
        *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
    esac
done

missing=""
checked=" "
for package in $packages; do
    case "$checked" in *" $package "*) continue ;; esac
    checked="$checked$package "
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "install-deps: missing packages:$missing (run as root or install sudo)" >&2
    exit 1
fi

# Another package manager at work (an unattended upgrade, apt in another
# terminal) holds its locks for a while: wait for it rather than fail.
# apt-get waits for dpkg's lock itself; the lock on the package lists that
# `update` takes it does not wait for (apt 2.6), so that is retried here.
lock_seconds=300
retry_seconds=5

update_package_lists() {
    waited=0
    while ! report=$($sudo env LC_ALL=C apt-get -o DPkg::Lock::Timeout=$lock_seconds update -qq 2>&1); do
        case "$report" in
            *"Could not get lock"*) ;;
            *) printf '%s\n' "$report" >&2; return 1 ;;
        esac
        if [ "$waited" -ge "$lock_seconds" ]; then
            printf '%s\n' "$report" >&2
            return 1
        fi
        [ "$waited" -gt 0 ] || echo "install-deps: waiting for another package manager to finish" >&2
        sleep "$retry_seconds"
        waited=$((waited + retry_seconds))
    done
    [ -z "$report" ] || printf '%s\n' "$report"
}

echo "install-deps: installing$missing"
update_package_lists
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=$lock_seconds \
    install -y -qq --no-install-recommends $missing
