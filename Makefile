# Set-up commands: `make test` builds and runs every test; `make run` builds
# Trovex and shows the bundled demo cache.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: build test clean bench

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# The benchmark at scale, in a release build of its own; not part of test.
BENCH_BUILD ?= build-bench
BENCH_ARGS ?=
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTROVEX_BENCH=ON -DTROVEX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target trovex_bench
	$(BENCH_BUILD)/bench/trovex_bench $(BENCH_ARGS)
