# Front door. `make run` starts the console from an optimised build;
# `make test` builds with assertions and buffer-pointer checks and runs every test.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: run test build-release build-check deps clean

run: build-release
	./build/release/oka

test: build-check
	cd build/check && ctest --output-on-failure -j $(JOBS)

build-release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)

build-check: deps
	cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=Check
	cmake --build build/check -j $(JOBS)

deps:
	@tools/install-deps

clean:
	rm -rf build
