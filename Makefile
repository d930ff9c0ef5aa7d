# Thin wrapper over CMake. `make run ARGS="-i 2 -l traffic.log"`, `make test`,
# `make install [PREFIX=/usr/local] [DESTDIR=]`, `make package`,
# `make bench` (measures against tcpdump, writes bench/RESULTS.md; needs root
# for the live part).
BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-bench
ARGS ?=
PREFIX ?= /usr/local
DESTDIR ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps package-deps configure build run test install package bench clean

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

clean:
	rm -rf $(BUILD_DIR) $(BENCH_BUILD_DIR)
