# Thin wrapper over CMake. `make run ARGS="-i 2 -l traffic.log"`, `make test`.
BUILD_DIR ?= build
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps configure build run test clean

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

clean:
	rm -rf $(BUILD_DIR)
