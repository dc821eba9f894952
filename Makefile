# Set-up commands: `make test` builds and runs every test; `make run` builds
# Trovex and shows the bundled demo cache. `make windows` cross-compiles the
# plug-in for 32-bit and 64-bit Windows with mingw-w64. `make test-asan` runs
# every test under the address and undefined-behaviour sanitizers; `make fuzz`
# runs each fuzz target for FUZZ_SECONDS (clang).
#
# Each command first installs the Debian packages it needs, as listed in
# tools/packages.txt; INSTALL_DEPS=true skips that.
INSTALL_DEPS ?= tools/install-deps
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
# trovex is built beside the plug-in library, where it looks for it.
TROVEX = $(BUILD)/plugin/trovex
DEMO = $(BUILD)/demo
WINDOWS_BUILDS := build-win32 build-win64

.PHONY: build test run windows clean bench test-asan fuzz-build fuzz

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build:
	$(CONFIGURE) -DTROVEX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# CTest shows no output of a skipped test; its reason (a missing package and
# how to install it) is repeated here.
test:
	$(INSTALL_DEPS) test
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@grep -h '^SKIPPED:' $(BUILD)/Testing/Temporary/LastTest.log | sort -u || true

# The demo runs on a fresh copy, so deleting entries never touches data/demo;
# its registry names the stand-in browser by the copy's absolute path. The
# demo needs neither the tests nor GoogleTest: the build folder is configured
# without them (make test configures them back).
run:
	$(INSTALL_DEPS) run
	$(CONFIGURE) -DTROVEX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target trovex
	rm -rf $(DEMO)
	cp -R data/demo $(DEMO)
	sed -i 's|@DEMO@|$(abspath $(DEMO))|g' $(DEMO)/registry.reg
	$(TROVEX) --system $(DEMO) tree

# One build after the other: the machine's cores are shared.
windows:
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build-win32 -j $(JOBS)
	cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build-win64 -j $(JOBS)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILDS) build-asan build-fuzz build-bench

# The benchmark at scale, in a release build of its own; not part of test.
# Then the same build on a real cache that Wine fills (needs make windows,
# wine64 and msiecfexport; skipped without them), and on the real WebCache
# sample beside esedbexport (skipped without either).
BENCH_BUILD ?= build-bench
BENCH_ARGS ?=
bench:
	$(INSTALL_DEPS) bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTROVEX_BENCH=ON -DTROVEX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target trovex_bench trovex
	$(BENCH_BUILD)/bench/trovex_bench $(BENCH_ARGS)
	bench/index_dat.sh $(BENCH_BUILD) $(CURDIR)
	bench/webcache.sh $(BENCH_BUILD) $(CURDIR)

# Any sanitizer report fails the test it comes from; leaks are reported when
# each test program ends. The tests of the Windows builds check mingw's
# libraries, which no sanitizer sees: make test runs them.
ASAN_BUILD ?= build-asan
test-asan: export ASAN_OPTIONS = detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
test-asan: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
test-asan:
	$(INSTALL_DEPS) test
	$(MAKE) build BUILD=$(ASAN_BUILD) CMAKE_FLAGS="-DTROVEX_SANITIZE=address,undefined $(CMAKE_FLAGS)"
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -E "^windows_"

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
fuzz-build:
	$(INSTALL_DEPS) fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTROVEX_FUZZ=ON -DTROVEX_TESTS=OFF \
	  -DTROVEX_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)
