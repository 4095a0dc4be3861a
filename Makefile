# Entry points. `make run` and `make test` set up a fresh Debian machine first.
JOBS ?= $(shell nproc)
# `make fuzz`: seconds per fuzz target, how many run at once, which ones (default all).
FUZZ_SECONDS ?= 600
FUZZ_PARALLEL ?= 1
FUZZ_TARGETS ?=

.PHONY: setup build run test asan-test tsan-test bench fuzz clean

setup:
	@bash scripts/setup.sh

build: setup
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	./build/bin/korvane

test: build
	ctest --preset default -j $(JOBS)

asan-test: setup
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

tsan-test: setup
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

bench: setup
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	@for b in build-release/bin/bench_*; do echo "== $$b"; SDL_VIDEODRIVER=$${SDL_VIDEODRIVER:-$$( [ -n "$$DISPLAY" ] && echo x11 || echo offscreen)} "$$b" || exit 1; done

fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@bash scripts/fuzz.sh $(FUZZ_SECONDS) $(FUZZ_PARALLEL) $(FUZZ_TARGETS)

clean:
	rm -rf build build-release build-asan build-tsan build-fuzz
