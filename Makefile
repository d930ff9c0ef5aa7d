# Thin wrapper over CMake. `make run ARGS="-i 2 -l traffic.log"`, `make test`,
# `make install [PREFIX=/usr/local] [DESTDIR=]`, `make package`.
BUILD_DIR ?= build
ARGS ?=
PREFIX ?= /usr/local
DESTDIR ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps package-deps configure build run test install package clean

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

clean:
	rm -rf $(BUILD_DIR)
