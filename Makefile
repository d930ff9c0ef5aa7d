# Thin wrapper over CMake. `make run ARGS=-d` then `make run ARGS="-i N -l traffic.log"`
# (N: the device's number in the list -d prints), `make test`,
# `make install [PREFIX=/usr/local] [DESTDIR=]`, `make package`,
# `make bench` (measures against tcpdump, writes bench/RESULTS.md; needs root
# for the live part).
# `make sanitize` (the tests under ASan and UBSan), `make fuzz FUZZ_SECONDS=300`.
BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-bench
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
ARGS ?=
PREFIX ?= /usr/local
DESTDIR ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
LINT_JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps package-deps configure build run test install package bench sanitize \
	fuzz-deps fuzz-configure fuzz fuzz-coverage fuzz-seeds lint-deps lint clean

all: build

deps:
	@scripts/install-deps.sh build

configure: deps
	@cmake -S . -B $(BUILD_DIR) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test-deps:
	@scripts/install-deps.sh test

# Only the programs: the test suite takes minutes to build, the programs
# seconds.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target vestrel vestrel-trace
	$(BUILD_DIR)/vestrel $(ARGS)

test: test-deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Installs what `make` built. Only a tree never built is built first, so
# `sudo make install` after `make` leaves the build tree to its owner.
install:
	@[ -f $(BUILD_DIR)/cmake_install.cmake ] || $(MAKE) build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

package-deps:
	@scripts/install-deps.sh package

# A Debian package in $(BUILD_DIR): vestrel_<version>_<arch>.deb
package: package-deps build
	cd $(BUILD_DIR) && cpack -G DEB

# A build of its own, with the benchmarks and without the tests.
bench:
	@scripts/install-deps.sh bench
	@cmake -S . -B $(BENCH_BUILD_DIR) -DVESTREL_BUILD_BENCH=ON -DVESTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD_DIR) -j $(JOBS)
	bench/run-bench.sh $(BENCH_BUILD_DIR)

# Any finding ends the test with a stack trace; leaks count.
SANITIZER_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1:print_stacktrace=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Suites run whole, in the directory ctest would run them in: a sanitized
# process takes a moment to start and end, too long to pay for every case.
# The live cases go through ctest for their time limits.
SANITIZE_SUITES = tests/unit_tests tests/tools/tools_tests tests/read/read_tests

sanitize: test-deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DVESTREL_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@for suite in $(SANITIZE_SUITES); do \
		echo "sanitize: $$suite"; \
		(cd $(SANITIZE_DIR)/$$(dirname $$suite) && $(SANITIZER_ENV) ./$$(basename $$suite) --gtest_brief=1) || exit 1; \
	done
	cd $(SANITIZE_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) -L live

fuzz-deps:
	@scripts/install-deps.sh fuzz

# The fuzz build configures with clang; the compiler is fixed at the first
# configure of FUZZ_DIR.
fuzz-configure: fuzz-deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DVESTREL_FUZZ=ON -DVESTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_frames fuzz_stream fuzz_pcap_records fuzz_filter fuzz_seeds

fuzz: fuzz-configure
	@scripts/run-fuzz.sh $(FUZZ_DIR)/fuzz $(FUZZ_SECONDS)

# Line coverage of src/ that the corpora reach (after `make fuzz`, its
# working corpora too), from a separate build instrumented for llvm-cov.
fuzz-coverage: fuzz-deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR)-coverage -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DVESTREL_FUZZ=ON -DVESTREL_FUZZ_COVERAGE=ON -DVESTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_DIR)-coverage -j $(JOBS) --target fuzz_frames fuzz_stream fuzz_pcap_records fuzz_filter
	@scripts/fuzz-coverage.sh $(FUZZ_DIR)-coverage/fuzz $(FUZZ_DIR)/fuzz

# Rewrites the checked-in seed corpora from the generator and the real sessions.
fuzz-seeds: fuzz-configure
	rm -rf fuzz/corpus
	$(FUZZ_DIR)/fuzz/fuzz_seeds fuzz/corpus samples/real-legacy.pcap samples/real-games.pcap

lint-deps:
	@scripts/install-deps.sh lint

# clang-tidy, cppcheck and clang-format over every C++ file; any finding fails.
lint: lint-deps
	@LINT_JOBS=$(LINT_JOBS) scripts/lint.sh

clean:
	rm -rf $(BUILD_DIR) build-lint $(BENCH_BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(FUZZ_DIR)-coverage
