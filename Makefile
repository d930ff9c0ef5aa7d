# Thin wrapper over CMake. `make run ARGS="-i 2 -l traffic.log"`, `make test`.
BUILD_DIR ?= build
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
LINT_JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps lint-deps configure build run test lint clean

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

lint-deps:
	@scripts/install-deps.sh lint

# clang-tidy, cppcheck and clang-format over every C++ file; any finding fails.
lint: lint-deps
	@LINT_JOBS=$(LINT_JOBS) scripts/lint.sh

clean:
	rm -rf $(BUILD_DIR) build-lint
