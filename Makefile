# Set-up commands: `make test` builds and runs every test; `make run` builds
# Trovex and shows the bundled demo cache. `make test-asan` runs every test
# under the address and undefined-behaviour sanitizers; `make fuzz` runs each
# fuzz target for FUZZ_SECONDS (clang).
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
# trovex is built beside the plug-in library, where it looks for it.
TROVEX = $(BUILD)/plugin/trovex
DEMO = $(BUILD)/demo

.PHONY: build test run clean test-asan fuzz-build fuzz

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The demo runs on a fresh copy, so deleting entries never touches data/demo;
# its registry names the stand-in browser by the copy's absolute path.
run: build
	rm -rf $(DEMO)
	cp -R data/demo $(DEMO)
	sed -i 's|@DEMO@|$(abspath $(DEMO))|g' $(DEMO)/registry.reg
	$(TROVEX) --system $(DEMO) tree

clean:
	rm -rf $(BUILD)

# Any sanitizer report fails the test it comes from; leaks are reported when
# each test program ends.
ASAN_BUILD ?= build-asan
test-asan: export ASAN_OPTIONS = detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
test-asan: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
test-asan:
	$(MAKE) test BUILD=$(ASAN_BUILD) CMAKE_FLAGS="-DTROVEX_SANITIZE=address,undefined $(CMAKE_FLAGS)"

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
fuzz-build:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTROVEX_FUZZ=ON -DTROVEX_TESTS=OFF \
	  -DTROVEX_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)
