# Set-up and everyday targets. `make run` and `make test` are all a new machine needs.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# A compiler cache, when the machine has one, makes the builds of a fresh
# clone quick after the first (paths are hashed relative to the clone, so
# clones in other places share it). QUORVEX_CCACHE=0 builds without it.
ifneq ($(QUORVEX_CCACHE),0)
ifneq ($(shell command -v ccache 2>/dev/null),)
LAUNCHER := -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif
endif
# Where `make install` puts the libraries, headers, tool and manual page.
PREFIX ?= /usr/local

APT_PACKAGES := cmake g++ make libboost-regex-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev pkg-config libicu-dev
# `make package` and its test: dpkg-shlibdeps (dpkg-dev) and lintian; the tool tests use patch,
# and compare the tool with GNU grep and, for --json and the benchmarks, ripgrep.
APT_PACKAGES += dpkg-dev lintian patch grep ripgrep
# The sanitizer runtimes of g++ come with it; fuzzing needs clang and its
# runtimes (libFuzzer, sanitizers).
APT_PACKAGES += clang libclang-rt-14-dev
# The automaton prefilter of searches without a literal (optional at build
# time; Debian builds it for amd64 only).
ifeq ($(shell dpkg --print-architecture 2>/dev/null),amd64)
APT_PACKAGES += libvectorscan-dev
endif

# Hardening builds, each in its own directory: AddressSanitizer with
# UndefinedBehaviorSanitizer (g++), ThreadSanitizer (g++), libFuzzer (clang,
# with AddressSanitizer and UndefinedBehaviorSanitizer). -O1 keeps the
# instrumented builds quick to compile and still fast enough to run.
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
SANITIZE_CXX ?= g++
SANITIZE_CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
  -DQUORVEX_BUILD_BENCHMARKS=OFF -DQUORVEX_BUILD_EXAMPLES=OFF -DQUORVEX_WERROR=ON
ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:verify_asan_link_order=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# QUORVEX_TEST_SHORT: tests that repeat one hand-over between threads over
# many cases run a sample of the cases (each costs the thread checker much).
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 QUORVEX_TEST_SHORT=1
# The test programs with tests that run threads, and the ctest names of those
# tests (every test of these programs that fits the pattern; the walk cross
# check with one thread starts none, so only its three-thread run is here).
TSAN_TARGETS := files_test platform_test tlsstack_test walker_test component_twolibraries_test \
  hardening_threads_test hardening_tsan_blockcache searchpool_test cli_parallel_test
TSAN_TESTS := ^((FileOperations|Platform[A-Za-z]*|TLSStack[A-Za-z]*|Threads/RegExWalk|TwoLibraries|HardeningThreads|SearchPool|ParallelGrep)\.|Threads/CrossCheckThreads\..*/Threads3)
# Boost.Regex 1.74 hands its matchers memory blocks through a cache inside
# its compiled library, which ThreadSanitizer cannot see; this small library,
# preloaded into the tests, replaces that cache by plain allocation.
TSAN_PRELOAD = $(TSAN_DIR)/tests/hardening/libhardening_tsan_blockcache.so

# Fuzzing: FUZZ_SECONDS per target; an input running longer than
# FUZZ_TIMEOUT seconds is a hang, a process above FUZZ_RSS_MB megabytes is
# unbounded memory; either, a crash or a leak fails the target. Findings go
# to $(FUZZ_DIR)/artifacts, new inputs to $(FUZZ_DIR)/corpus (the seed
# corpora in fuzz/corpus stay as committed).
FUZZ_SECONDS ?= 60
FUZZ_TIMEOUT ?= 10
FUZZ_RSS_MB ?= 2048
FUZZ_TARGETS := stream match formfile search

# Windows: a cross-build with Debian's mingw-w64 compilers (ARCH=x86_64 or
# i686) into $(WINDOWS_DIR), the test suite run under Wine (64-bit only).
# Boost.Regex for it is Boost 1.81's, header-only and standalone: the Debian
# package is fetched with apt-get download and unpacked into $(DEPS_DIR),
# never over the system's headers; GoogleTest is built from Debian's sources.
# `make test-boost181` builds and tests on Linux against the same headers.
ARCH ?= x86_64
WINDOWS_DIR ?= build-windows-$(ARCH)
BOOST181_DIR ?= build-boost181
DEPS_DIR ?= build-deps
WINDOWS_APT_PACKAGES := g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 googletest
BOOST181_PACKAGE := libboost1.81-dev
BOOST181_HEADERS = $(abspath $(DEPS_DIR))/boost181/usr/include
# These two builds exist to prove that everything compiles and passes with
# another compiler or another Boost, not to be fast: -O1 compiles far quicker
# than -O2 and keeps CI short.
QUICK_RELEASE := -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
WINDOWS_CMAKE_FLAGS := $(QUICK_RELEASE) -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/Toolchain-mingw-$(ARCH).cmake) \
  -DQUORVEX_BOOST_REGEX_HEADERS=$(BOOST181_HEADERS) -DQUORVEX_GTEST_SOURCES=/usr/src/googletest \
  -DQUORVEX_BUILD_BENCHMARKS=OFF -DQUORVEX_BUILD_EXAMPLES=OFF -DQUORVEX_WERROR=ON
WINE_PREFIX = $(abspath $(WINDOWS_DIR))/wineprefix
WINESERVER ?= /usr/lib/wine/wineserver

.PHONY: deps configure build test run example install bench clean test-sanitize test-asan test-tsan fuzz \
  install-missing deps-windows boost181 windows test-windows test-boost181

# Installs only what is missing; does nothing (and needs no root) when all is there.
deps:
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(APT_PACKAGES)"

# Debian packages from a list given as PACKAGES, only those missing.
install-missing:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

deps-windows: deps boost181
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(WINDOWS_APT_PACKAGES)"

boost181: $(BOOST181_HEADERS)/boost/regex.hpp

$(BOOST181_HEADERS)/boost/regex.hpp:
	@mkdir -p $(DEPS_DIR)/debs
	cd $(DEPS_DIR)/debs && { apt-get download -qq $(BOOST181_PACKAGE) 2>/dev/null || \
	  { SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; $$SUDO apt-get update -qq && apt-get download -qq $(BOOST181_PACKAGE); }; }
	rm -rf $(DEPS_DIR)/boost181
	dpkg-deb -x $$(ls -t $(DEPS_DIR)/debs/$(BOOST181_PACKAGE)_*.deb | head -n 1) $(DEPS_DIR)/boost181
	@test -f $@

windows: deps-windows
	cmake -S . -B $(WINDOWS_DIR) $(LAUNCHER) $(WINDOWS_CMAKE_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_DIR) -j $(JOBS)

# The wine server is kept running for the whole suite (one start-up instead
# of one per test) and stopped after it.
test-windows: windows
	@if [ "$(ARCH)" != x86_64 ]; then echo "test-windows runs 64-bit programs only (ARCH=x86_64)"; exit 1; fi
	@mkdir -p $(WINE_PREFIX)
	WINEPREFIX=$(WINE_PREFIX) $(WINESERVER) -p || true
	sh cmake/Winerun.sh $(WINE_PREFIX) cmd /c exit 0 >/dev/null 2>&1 || true
	cd $(WINDOWS_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300; \
	  status=$$?; WINEPREFIX=$(WINE_PREFIX) $(WINESERVER) -k; exit $$status

test-boost181: deps boost181
	cmake -S . -B $(BOOST181_DIR) $(LAUNCHER) $(QUICK_RELEASE) -DQUORVEX_BOOST_REGEX_HEADERS=$(BOOST181_HEADERS) \
	  -DQUORVEX_BUILD_BENCHMARKS=OFF -DQUORVEX_BUILD_EXAMPLES=OFF -DQUORVEX_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BOOST181_DIR) -j $(JOBS)
	cd $(BOOST181_DIR) && ctest --output-on-failure -j $(JOBS)

configure: deps
	cmake -S . -B $(BUILD_DIR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The tests build with warnings as errors.
test: CMAKE_FLAGS += -DQUORVEX_WERROR=ON
test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The tool on the sample tree examples/tree: grep, dry-run replace, and a
# real replace with backups on a temporary copy.
run: build
	sh examples/run-demo.sh $(BUILD_DIR)/cli/quorvex

# The library example program on a bundled text.
example: build
	$(BUILD_DIR)/examples/quorvex-example examples/sample.txt

# The Debian packages, made by CPack in $(BUILD_DIR): libquorvexN (the shared
# libraries, N their SONAME version), libquorvex-dev (headers, CMake and
# pkg-config files) and quorvex (the tool), each PACKAGE_VERSION_ARCH.deb.
.PHONY: package package-windows
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The Windows zip, made by CPack in $(WINDOWS_DIR): quorvex-VERSION-win64.zip
# (win32 with ARCH=i686), with the compiler's run-time DLLs beside the
# program and the DLLs.
package-windows: windows
	cd $(WINDOWS_DIR) && cpack -G ZIP

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)
	@if [ "$$(id -u)" -eq 0 ] && command -v ldconfig >/dev/null; then ldconfig; fi

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the multi-threaded tests under ThreadSanitizer.
test-sanitize: test-asan test-tsan

test-asan: deps
	CXX=$(SANITIZE_CXX) cmake -S . -B $(ASAN_DIR) $(LAUNCHER) $(SANITIZE_CMAKE_FLAGS) -DQUORVEX_SANITIZE=address,undefined
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS) --timeout 900

test-tsan: deps
	CXX=$(SANITIZE_CXX) cmake -S . -B $(TSAN_DIR) $(LAUNCHER) $(SANITIZE_CMAKE_FLAGS) -DQUORVEX_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_DIR) && $(TSAN_ENV) LD_PRELOAD=$(abspath $(TSAN_PRELOAD)) \
	  ctest --output-on-failure -j $(JOBS) --timeout 900 --no-tests=error -R '$(TSAN_TESTS)'

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(LAUNCHER) $(SANITIZE_CMAKE_FLAGS) -DQUORVEX_SANITIZE=address,undefined \
	  -DQUORVEX_BUILD_FUZZERS=ON -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_INSTALL=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	@mkdir -p $(FUZZ_DIR)/artifacts
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  if ! $(ASAN_ENV) $(FUZZ_DIR)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=$(FUZZ_TIMEOUT) \
	      -rss_limit_mb=$(FUZZ_RSS_MB) -malloc_limit_mb=$(FUZZ_RSS_MB) -detect_leaks=1 -print_final_stats=1 \
	      -artifact_prefix=$(FUZZ_DIR)/artifacts/fuzz_$$t- \
	      $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t >$(FUZZ_DIR)/fuzz_$$t.log 2>&1; then \
	    tail -n 60 $(FUZZ_DIR)/fuzz_$$t.log; echo "FAILED: fuzz_$$t (see $(FUZZ_DIR)/artifacts)"; exit 1; \
	  fi; \
	  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' $(FUZZ_DIR)/fuzz_$$t.log; \
	done; \
	echo "fuzz: $(words $(FUZZ_TARGETS)) passed, 0 failed"

clean:
	rm -rf $(BUILD_DIR)
