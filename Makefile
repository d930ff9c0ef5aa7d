# Thin wrapper over CMake. `make run ARGS="-i 2 -l traffic.log"`, `make test`,
# `make bench` (measures against tcpdump, writes bench/RESULTS.md; needs root
# for the live part).
BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-bench
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps.sh build

configure: deps
	@cmake -S . -B $(BUILD_DIR) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test-deps:
	@scripts/install-deps.sh test

run: build
	$(BUILD_DIR)/vestrel $(ARGS)

test: test-deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# A build of its own, with the benchmarks and without the tests.
bench:
	@scripts/install-deps.sh bench
	@cmake -S . -B $(BENCH_BUILD_DIR) -DVESTREL_BUILD_BENCH=ON -DVESTREL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD_DIR) -j $(JOBS)
	bench/run-bench.sh $(BENCH_BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(BENCH_BUILD_DIR)
