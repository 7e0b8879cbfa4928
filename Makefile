# Set-up and everyday targets. `make run` and `make test` are all a new machine needs.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Where `make install` puts the libraries, headers, tool and manual page.
PREFIX ?= /usr/local

APT_PACKAGES := cmake g++ make libboost-regex-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev pkg-config

.PHONY: deps configure build test run example install bench clean

# Installs only what is missing; does nothing (and needs no root) when all is there.
deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The tool on the sample tree examples/tree: grep, dry-run replace, and a
# real replace with backups on a temporary copy.
run: build
	sh examples/run-demo.sh $(BUILD_DIR)/cli/quorvex

# The library example program on a bundled text.
example: build
	$(BUILD_DIR)/examples/quorvex-example examples/sample.txt

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)
	@if [ "$$(id -u)" -eq 0 ] && command -v ldconfig >/dev/null; then ldconfig; fi

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD_DIR)
