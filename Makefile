# The usual entry points. `make demo` and `make check` install what they need (as root, on Debian 12).
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

FUZZ_BUILD ?= build-fuzz

.PHONY: deps build build-asan build-fuzz check check-asan check-fuzz demo clean

deps:
	bash .ci/install-deps

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

build-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Every test: unit, fuzz and whole-program tests in the normal build.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
check-asan: build-asan
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

build-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# The libFuzzer targets, each for a bounded time.
check-fuzz: build-fuzz
	cd $(FUZZ_BUILD) && ctest --output-on-failure -L fuzz

demo: build
	python3 tools/demo.py $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
