# Set-up commands: `make test` builds and runs every test; `make run` builds
# Trovex and shows the bundled demo cache.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: build test clean

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
