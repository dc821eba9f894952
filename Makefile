# Set-up commands: `make test` builds and runs every test; `make run` builds
# Trovex and shows the bundled demo cache.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
# trovex is built beside the plug-in library, where it looks for it.
TROVEX = $(BUILD)/plugin/trovex
DEMO = $(BUILD)/demo

.PHONY: build test run clean bench

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

# The benchmark at scale, in a release build of its own; not part of test.
BENCH_BUILD ?= build-bench
BENCH_ARGS ?=
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTROVEX_BENCH=ON -DTROVEX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target trovex_bench
	$(BENCH_BUILD)/bench/trovex_bench $(BENCH_ARGS)
